#pragma once
// A document's identity and the journal's record of one backup, as one line
// of text.
#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The process behind a Word instance: a never-saved document is its name
// within one such process, since each new Word starts again at "Document1".
// The start time tells a reused process id apart.  Zero when not known.
struct WordProcess {
    DWORD id = 0;
    std::uint64_t started = 0;  // creation time, FILETIME ticks
    bool operator==(const WordProcess&) const = default;
};

// A saved document is its full name (without regard to case); a never-saved
// one its name within one Word process.
struct DocumentIdentity {
    std::wstring name;  // FullName, or Name when never saved
    bool neverSaved = false;
    WordProcess process;  // of a never-saved document's Word
    // One text per identity, for maps: upper case.
    std::wstring key() const;
};

// Whether Word had changes that were not saved when the backup was made.
enum class UnsavedChanges : char { Unknown = '?', No = '0', Yes = '1' };

struct JournalRecord {
    DocumentIdentity document;
    std::wstring displayName;  // Word's Name
    std::wstring path;         // the backup's
    std::uint64_t written = 0;      // FILETIME ticks (UTC)
    std::uint64_t size = 0;         // as written: a file of another size is no longer that backup
    std::uint64_t firstBackup = 0;  // a never-saved document's first backup; 0 for a saved one
    UnsavedChanges unsaved = UnsavedChanges::Unknown;
    bool deleted = false;  // a record that the backup was deleted by housekeeping
};

// One line of the journal, with its line feed; and back (none for a line
// that is not a whole record).  UTF-8, tab-separated, with "%" and control
// characters as %XX; the last field marks a line written whole.
std::string FormatJournalLine(const JournalRecord& record);
std::optional<JournalRecord> ParseJournalLine(std::string_view line);

// For reading many lines fast: a line's fields (none when it is not a whole
// record: kind, written, size, first backup, unsaved, never saved, process
// id, process start, identity's name, display name, path, end), a field's
// text and number.
inline constexpr size_t kJournalFields = 12;
using JournalFields = std::array<std::string_view, kJournalFields>;
std::optional<JournalFields> SplitJournalLine(std::string_view line);
bool JournalText(std::string_view field, std::wstring& text);
bool JournalNumber(std::string_view field, std::uint64_t& n);

// FNV-1a over the UTF-16 units of a text's upper case: how the journal's
// maps hold paths and identities.
class UpperHash {
public:
    void add(wchar_t c);
    void add(std::wstring_view text);
    // A field as the line holds it; false when it is not valid text.
    bool addField(std::string_view field);
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 14695981039346656037ull;
};
std::uint64_t HashOf(std::wstring_view text);

