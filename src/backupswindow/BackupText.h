#pragma once
// The words a backup holds, read from its package: the main document part
// (named by the package's officeDocument relationship) first, then its
// headers, footers, footnotes, endnotes and comments.  Read with ZIP's
// central directory and zlib; no XML library (Wine's XmlLite breaks
// multibyte text).  A protected backup is decrypted in memory only.
#include "backupswindow/TextFold.h"
#include "common/SlimLock.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The text of one part: paragraphs joined by '\n', a tab '\t', a line
// break '\v'; and the same folded for searching.
struct PartText {
    std::string name;  // "word/document.xml"
    std::wstring text;
    std::wstring folded;
};

struct BackupText {
    std::vector<std::shared_ptr<const PartText>> parts;  // the main part first
};

// The text of WordprocessingML: w:t's text, character and entity references
// decoded, w:tab and w:br/w:cr as tab and line break, each w:p ended by a
// paragraph end; deleted text, field codes, comments and processing
// instructions left out; of mc:AlternateContent the first mc:Choice is read,
// else mc:Fallback, never both.  Runs are no boundary: "sen<w:t>tence" is one word.
std::wstring WordprocessingText(std::string_view xml);

// The targets of relationships of a .rels part whose type ends with one of
// typeEnds ("/officeDocument"), resolved against the folder of the part
// they belong to ("word/"), in document order.  External targets are left out.
std::vector<std::string> RelationshipTargets(std::string_view rels, std::string_view folder,
                                             const std::vector<std::string_view>& typeEnds);

// Backups' texts, read once and kept within a budget: a part whose name,
// CRC-32 and sizes another backup's directory gave already is not read
// again, and past the budget the parts used least recently are let go (a
// backup that needs one again is read again).  Safe to use from several
// threads.
class BackupTexts {
public:
    static constexpr size_t kBudget = size_t{256} << 20;  // bytes of text kept
    explicit BackupTexts(size_t budget = kBudget) : budget_(budget) {}

    // The text of the backup file at path (a .protected one decrypted);
    // written and size tell a replaced file from the one read before.
    // Throws Failure for a file that cannot be read or is no Word package.
    std::shared_ptr<const BackupText> read(const std::wstring& path, std::uint64_t written, std::uint64_t size);
    // The same for a package already in memory.
    std::shared_ptr<const BackupText> fromPackage(std::string_view package);
    // The text of Word's package as WordOpenXML gives it (Flat OPC), read as
    // a backup's is; not kept.
    std::shared_ptr<const BackupText> fromFlatOpc(std::wstring_view flatOpc) const;
    const TextFold& fold() const { return fold_; }
    size_t bytes() const;  // of the texts kept
    void clear();

private:
    // keys, when given, gets the parts' keys.
    std::shared_ptr<const BackupText> textOf(std::string_view package, std::vector<std::string>* keys);
    std::shared_ptr<const PartText> part(std::string_view package, const struct ZipEntry& entry,
                                         std::string& key);
    std::shared_ptr<const PartText> kept(const std::string& key);  // under mutex_; touches it
    void keep(const std::string& key, std::shared_ptr<const PartText> text);  // under mutex_

    TextFold fold_;
    const size_t budget_;
    mutable SlimLock mutex_;  // guards what follows
    struct Kept {
        std::uint64_t written, size;
        std::vector<std::string> parts;  // their keys
    };
    std::map<std::wstring, Kept> backups_;
    struct Part {
        std::shared_ptr<const PartText> text;
        std::list<std::string>::iterator used;
        size_t bytes;
    };
    std::unordered_map<std::string, Part> parts_;  // by name, CRC-32 and sizes
    std::list<std::string> used_;                  // their keys, used last first
    size_t bytes_ = 0;
};

// A Word 97-2003 file (.doc): no package, so no text to search.
bool IsClassicWordFile(const std::wstring& path);
