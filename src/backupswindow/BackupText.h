#pragma once
// The words a backup holds, read from its package: the main document part
// (named by the package's officeDocument relationship) first, then its
// headers, footers, footnotes, endnotes and comments.  Read with ZIP's
// central directory and zlib; no XML library (Wine's XmlLite breaks
// multibyte text).  A protected backup is decrypted in memory only.
#include "backupswindow/TextFold.h"
#include "common/SlimLock.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
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
// instructions left out.  Runs are no boundary: "sen<w:t>tence" is one word.
std::wstring WordprocessingText(std::string_view xml);

// The targets of relationships of a .rels part whose type ends with one of
// typeEnds ("/officeDocument"), resolved against the folder of the part
// they belong to ("word/"), in document order.  External targets are left out.
std::vector<std::string> RelationshipTargets(std::string_view rels, std::string_view folder,
                                             const std::vector<std::string_view>& typeEnds);

// Backups' texts, read once and kept until clear(): a part whose name, CRC-32
// and sizes another backup's directory gave already is not read again.
// Safe to use from several threads.
class BackupTexts {
public:
    // The text of the backup file at path (a .protected one decrypted);
    // written and size tell a replaced file from the one read before.
    // Throws Failure for a file that cannot be read or is no Word package.
    std::shared_ptr<const BackupText> read(const std::wstring& path, std::uint64_t written, std::uint64_t size);
    // The same for a package already in memory.
    std::shared_ptr<const BackupText> fromPackage(std::string_view package);
    const TextFold& fold() const { return fold_; }
    void clear();

private:
    std::shared_ptr<const PartText> part(std::string_view package, const struct ZipEntry& entry);

    TextFold fold_;
    SlimLock mutex_;
    struct Kept {
        std::uint64_t written, size;
        std::shared_ptr<const BackupText> text;
    };
    std::map<std::wstring, Kept> backups_;
    std::map<std::string, std::shared_ptr<const PartText>> parts_;  // by name, CRC-32 and sizes
};

// A Word 97-2003 file (.doc): no package, so no text to search.
bool IsClassicWordFile(const std::wstring& path);
