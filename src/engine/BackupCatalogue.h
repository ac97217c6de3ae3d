#pragma once
// The backups a user can get back: the documents named by the history
// file's lines and by the stamped files in the folders those lines name,
// each with its backups.  Read once per load; nothing is watched.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BackupFile {
    std::uint64_t written = 0;  // last write, FILETIME ticks (UTC)
    std::uint64_t size = 0;
    std::wstring name;          // in the document's folder
};

struct CatalogueDocument {
    std::wstring name;    // as Word named it (the history line's), else the stem of its backups' names
    std::wstring folder;  // where its backups are
    std::wstring stem;    // what its backups' names begin with
    int number = 0;       // the " (n)" that keeps it apart from another of the same name; 0 for none
    std::vector<BackupFile> backups;  // in the order found
    std::uint64_t newest = 0;
    std::wstring path(const BackupFile& backup) const { return folder + L"\\" + backup.name; }
};

struct BackupCatalogue {
    std::vector<CatalogueDocument> documents;  // in the order first met
};

// Reads the history file (streamed: a file of any size costs one pass and a
// line's worth of memory) and lists the folders its lines name.  A missing
// history file gives an empty catalogue.
BackupCatalogue LoadBackupCatalogue(const std::wstring& historyFile);

// The document that Word calls name, opened from folder (empty for a
// never-saved one): the one whose backups lie in that folder, else the
// first of that name without a number, else the first of that name.
std::optional<size_t> FindCatalogueDocument(const BackupCatalogue& catalogue, const std::wstring& name,
                                            const std::wstring& folder);
