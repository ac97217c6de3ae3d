#pragma once
// The backups a user can get back: the files whose names are backup names
// (StampRule) of a document, in the folders the history file's lines name
// and in the folders backups were written to.  Read once per load; nothing
// is watched.
#include "engine/JournalLine.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct BackupFile {
    std::uint64_t written = 0;  // last write, FILETIME ticks (UTC)
    std::uint64_t size = 0;
    std::wstring name;          // in the document's folder
    bool isProtected = false;   // encrypted for the Windows user who made it
};

struct CatalogueDocument {
    // As Word named it (the journal's or the history line's), else the stem
    // of its backups' names.
    std::wstring name;
    // How the window names a document the journal knows, with its folder
    // or, never saved, the time of its first backup ("Document1, started Dec
    // 8 10:02 AM"); empty for any other.
    std::wstring label;
    std::wstring folder;  // where its backups are
    std::wstring stem;    // what its backups' names begin with
    int number = 0;       // the " (n)" that keeps it apart from another of the same name; 0 for none
    std::wstring identity;      // its identity's key (DocumentIdentity) when the journal names its backups
    DocumentIdentity document;  // and that identity (its name empty for any other)
    std::vector<BackupFile> backups;  // in the order found
    std::uint64_t newest = 0;
    std::wstring path(const BackupFile& backup) const { return folder + L"\\" + backup.name; }
    // The label, else the name with its number.
    std::wstring shownName() const;
};

class BackupCatalogue {
public:
    std::vector<CatalogueDocument> documents;  // in the order first met; each has backups

    // Adds part's backups: to the same document when there is one (its
    // place in documents stays), else as a new document at the end.
    void merge(BackupCatalogue&& part);
    // The document of that folder, stem and number, or of that folder and
    // identity, adding it when new.
    CatalogueDocument& documentFor(std::wstring_view folder, std::wstring_view stem, int number,
                                   std::wstring_view identity = {});

private:
    std::unordered_map<std::wstring, size_t> byKey_;
    std::wstring key_;  // reused: a lookup per file allocates nothing
};

// Reads the journal and the history file (streamed: a file of any size
// costs one pass and a line's worth of memory), then each folder: the
// remembered ones (most recent first), the journal's, then those the lines
// name.  A file that the journal names as written is listed under its
// document's identity; any other backup name by its name.  Hands deliver what was found,
// a part at a time (at the end of each folder, and every few tenths of a
// second within a large one), and ends early once stop is set.  A missing
// history file names no folder.  Throws Failure when the history cannot be
// read.
void ReadBackupCatalogue(const std::wstring& historyFile, const std::wstring& journalFile,
                         const std::vector<std::wstring>& rememberedFolders,
                         const std::atomic<bool>& stop, const std::function<void(BackupCatalogue&&)>& deliver);
// All of it at once.
BackupCatalogue LoadBackupCatalogue(const std::wstring& historyFile,
                                    const std::vector<std::wstring>& rememberedFolders = {},
                                    const std::wstring& journalFile = {});

// The document that Word calls name, opened from folder (empty for a
// never-saved one, or a web address): the one whose backups lie in that
// folder, else the first of that name without a number, else the first of
// that name.
std::optional<size_t> FindCatalogueDocument(const BackupCatalogue& catalogue, const std::wstring& name,
                                            const std::wstring& folder);
