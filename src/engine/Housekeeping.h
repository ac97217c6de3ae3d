#pragma once
// What keeps backups from filling the disk: a fingerprint of a document's
// copied content (to skip one that has not changed), the pruning of old
// stamped backups, and the free space a save needs.
#include "engine/BackupJournal.h"
#include "engine/BackupName.h"
#include "engine/BackupOptions.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- Unchanged documents -------------------------------------------------------

// A fingerprint of what the clipboard holds now, in the formats a backup is
// pasted from (Unicode text and Rich Text Format, so that a change of
// formatting alone counts), with the parts Word rewrites at every copy left
// out.  The clipboard is opened with owner.
struct ContentFingerprint {
    std::uint64_t hash = 0;
    std::uint64_t bytes = 0;  // the size of what was copied
    bool operator==(const ContentFingerprint&) const = default;
};
ContentFingerprint FingerprintClipboard(HWND owner);
// What housekeeping keeps from one run to the next: what each document's
// last backup held, and the folders a skip for want of space, or a refusal
// to take a new file, has been reported for (a folder leaves when a backup
// is saved there again).
struct HousekeepingMemory {
    std::map<std::wstring, ContentFingerprint> lastBackups;
    std::set<std::wstring> spaceReported;  // upper case
    std::set<std::wstring> writeRefused;   // upper case, with a trailing backslash
};

// Rich Text Format without what changes at every copy of the same content:
// the document information group ({\info ...}), the revision-save id table
// ({\*\rsidtbl ...}) and every \rsid... control word.
std::string StableRtf(std::string_view rtf);

// ---- Keeping backups for a time -------------------------------------------------

// The choices of the "keep backups for" list, in its order, with the value
// each stores; 0 days and no thinning keeps all.  An unknown stored value
// (thinning to an older version) keeps all.
struct KeepChoice {
    const wchar_t* text;
    const wchar_t* stored;
    int days;
    bool thin = false;
};
inline constexpr KeepChoice kKeepChoices[] = {
    {L"Keep all backups", L"0", 0},
    {L"1 day", L"1", 1},
    {L"7 days", L"7", 7},
    {L"30 days", L"30", 30},
    {L"Thin out: all for 2 hours, hourly for 2 days, daily for a month, weekly after", L"thin", 0, true}};

// A document's stamped backups in one folder: the files of StampRule's
// names of its stem (any backup extension, protected or not, so that a
// document that took a password or macros keeps one history) that the
// journal says are its own.  No other file is ever deleted by housekeeping,
// nor counts as a document's newest.
struct DocumentSeries {
    std::wstring folder, stem;
    DocumentIdentity document;
};

// Deletes, in the series' folder and nowhere else, the regular files (never
// a folder or a link) of the series whose last write is older than maxAge,
// except the newest of them: a document that has not changed for longer
// than maxAge keeps its last backup.  A file that another program holds
// past the retry bound is left for a later run.  Deletions are recorded in
// the journal.  Answers how many were deleted.
int PruneBackups(BackupJournal& journal, const DocumentSeries& series, std::chrono::hours maxAge);

// Deletes the regular files of the series that ThinningKeeps does not keep,
// now and in the user's time zone, as PruneBackups does.
int ThinBackups(BackupJournal& journal, const DocumentSeries& series);

// ---- Free space -------------------------------------------------------------------

// What must be free for a backup of a copy of this size: the backup, and
// after it twice the document's size plus 32 MB for the user's own saves.
// The copy's size stands for both: its Rich Text is larger than the file.
std::uint64_t RequiredFreeSpace(std::uint64_t copiedBytes);
// Deletes the oldest files of the series, by the pruning's rules and never
// the newest, until FreeSpace(folder) reaches needed; none when deleting all
// but the newest would not make that room.  Answers how many were deleted.
int MakeRoom(BackupJournal& journal, const DocumentSeries& series, std::uint64_t needed);

// ---- One run's housekeeping -------------------------------------------------------

class Failure;
class Guard;

// The backup run's care for the disk: no second copy of an unchanged
// document, no save that leaves too little room for the user's own saves
// (old backups go first when the user keeps them for a time), and old
// stamped backups removed or thinned after the run.
class RunHousekeeping {
public:
    RunHousekeeping(const BackupOptions& options, HousekeepingMemory& memory, BackupJournal& journal)
        : options_(options), memory_(memory), journal_(journal) {}

    // Called with the copy on the clipboard, before the save: false when the
    // document is to get no backup this time.  The size of a saved
    // document's file (its FullName) stands for the copy's when the
    // clipboard is not read.
    bool worthSaving(Guard& guard, const DocumentIdentity& document, const std::wstring& path);
    // The same for content fingerprinted elsewhere (a package), whose backup
    // takes bytes on the disk; reports go under step.
    bool worthSaving(Guard& guard, int step, const DocumentIdentity& document, const std::wstring& path,
                     const ContentFingerprint& content, std::uint64_t bytes);
    void saved(const DocumentIdentity& document);
    // A backup written while Word said the document was saved: its file
    // stands for its content until either changes.
    void fileBackedUp(const DocumentIdentity& document, const ContentFingerprint& file) {
        memory_.lastBackups[document.key()] = file;
    }
    // Whether skipping is on and the document's last backup held content.
    bool unchanged(const DocumentIdentity& document, const ContentFingerprint& content) const;
    // A stamped path the run gives a document (new-file mode).
    void wrote(const std::wstring& path, const DocumentIdentity& document);
    // In new-file mode: the stamped backups of this run's documents, in the
    // folders this run wrote to, older than the chosen age or not kept by
    // thinning.  Answers the history line that says how many went, empty
    // when none did.
    std::wstring prune();
    // Whether a document got no backup for want of free space.
    bool skippedForSpace() const { return skippedForSpace_; }

    // True while a folder that refused a backup before still refuses a new
    // file: the document is left out without a copy being made.
    bool stillRefusesWriting(const std::wstring& folder);
    // After a backup could not be written to path: when its folder refuses
    // new files (access denied, write-protected, missing), throws a report
    // the first time for that folder, and nothing until a backup is saved
    // there again; any other failure is thrown as it is.
    void writeFailed(const std::wstring& path, const Failure& failure);
    // Whether a document got no backup because its folder refused it.
    bool refusedWriting() const { return refusedWriting_; }

private:
    const BackupOptions& options_;
    HousekeepingMemory& memory_;
    BackupJournal& journal_;
    // Notes a folder that refuses writing; throws its report the first time.
    void refused(const std::wstring& folder, unsigned long error);

    bool skippedForSpace_ = false;
    ContentFingerprint copied_;
    bool spaceReported_ = false;
    bool refusedWriting_ = false;
    std::wstring folder_;  // of the backup being weighed
    std::vector<DocumentSeries> written_;
    // What the run's deletes of held old backups may still wait, in ms: 2 s
    // in all, not 2 s each (the window answers meanwhile, the run goes on).
    unsigned long long heldDeletesWait_ = 2000;
};
