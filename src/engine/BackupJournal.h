#pragma once
// Which document each backup belongs to.  A name says too little: two
// documents of one name are two documents, and a new Word names its first
// new document "Document1" again.  So every backup written is recorded, with
// its document's identity, in a journal of Orvelle's own; replacing,
// pruning, thinning, making room and the Backups window go by it, and a file
// that it does not name is never deleted.
//
// The file: UTF-8, one record a line, append-only.  Each record is one
// WriteFile of a whole line on a handle opened for appending (appends are
// atomic per write), under a shared lock of "<journal>.lock"; compaction
// takes that lock exclusively, reads what others appended meanwhile, writes
// the survivors to a new file and renames it into place.  Readers take the
// shared lock too.  A torn last line (a crash mid-write) is ignored, and the
// next record starts on a line of its own.
//
// In memory: where each path's last record starts (JournalIndex), never the
// text; a record is read from the file when asked for.  From refresh() until
// release() the file stays open under the shared lock, so the places read
// stay those of the file read.
#include "engine/JournalIndex.h"
#include "engine/JournalLine.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// %LOCALAPPDATA%\Kelvane\Orvelle\Backups.journal
std::wstring DefaultJournalFile();

class BackupJournal {
public:
    explicit BackupJournal(std::wstring file);
    ~BackupJournal();
    BackupJournal(const BackupJournal&) = delete;
    BackupJournal& operator=(const BackupJournal&) = delete;
    const std::wstring& file() const { return file_; }

    // Reads what was appended since the last refresh (all of it when the
    // file was replaced by a compaction).  A journal that cannot be read
    // names nothing new; never fails.  Keeps the file open until release().
    void refresh();
    // Lets go of the file (another process's compaction waits for that); a
    // later question opens it again, and finds nothing if it was replaced.
    void release();
    // The last record of a backup path, none when the journal names none
    // there or its last record is a deletion.
    std::optional<JournalRecord> find(const std::wstring& path) const;
    // True when the journal's last record of path names document and the
    // file there is the one written then (its size).
    bool owns(const DocumentIdentity& document, const std::wstring& path) const;
    // A never-saved document's first backup, 0 when it has none yet.
    std::uint64_t firstBackupOf(const DocumentIdentity& document) const;
    // The folders of live records, for the Backups window to read.
    std::vector<std::wstring> folders() const;

    // Appends the record (its first backup filled in for a never-saved
    // document).  Failures are thrown.
    void record(JournalRecord record);
    // Appends a deletion of each path, one line each; quiet.
    void recordDeleted(const std::vector<std::wstring>& paths);
    // When most lines name backups that are gone (replaced, deleted, or no
    // longer on the disk), rewrites the file with the rest: a record stays
    // unless its folder answers and its file there is gone or another.
    // Quiet, and left for another time when another process holds the
    // journal.  Releases the file.
    void compactIfMostlyGone();

    bool empty() const { return index_.size() == 0; }
    // How many lines the reads took, whole and torn.
    size_t lines() const { return lines_; }

private:
    struct Open;
    bool isFileRead(HANDLE file) const;
    bool readAppended(HANDLE file);
    void take(std::string_view line, std::uint64_t at, std::vector<JournalIndex::Change>& changes);
    std::optional<JournalRecord> recordAt(std::uint32_t at) const;
    std::vector<std::uint32_t> goneLines() const;
    std::optional<std::string> survivors(const Open& open, const std::vector<std::uint32_t>& gone) const;
    void append(const std::vector<std::string>& lines);

    std::wstring file_;
    mutable std::unique_ptr<Open> open_;  // the file read, under the shared lock
    JournalIndex index_;
    std::unordered_map<std::uint64_t, std::uint64_t> firstBackups_;  // identity -> first backup
    std::unordered_map<std::uint64_t, std::uint32_t> folders_;       // a folder -> a line naming it
    std::uint64_t lastFolder_ = 0;  // of the line read last: most lines name the folder before theirs
    size_t lines_ = 0;
    std::uint64_t readUpTo_ = 0;   // the end of the last whole line read
    std::uint64_t fileIndex_ = 0;  // of the file read: a compaction makes a new one
    struct {
        std::uint64_t hash = 0;
        std::uint32_t length = 0;
    } lastLine_;  // the last line read, with its line feed
};

// A backup file's size, none when it cannot be read.
std::optional<std::uint64_t> BackupFileSize(const std::wstring& path);

// The path a document's backup goes to: path or one of its " (n)", the
// first that the journal says is the document's own, else the first where
// no file is; never one in taken (upper case: given out in this run already,
// to another document or to this one when another program kept it).  Any
// other file is left alone.
std::wstring ClaimBackupPath(const BackupJournal& journal, const DocumentIdentity& document, const std::wstring& path,
                             const std::wstring& extension, const std::unordered_set<std::wstring>& taken);
