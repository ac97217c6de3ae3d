#pragma once
// One document's backup, in the stages of a run: resolve the document,
// decide the way, choose the folder, claim the path, write, record.  The
// run (SaveWord.cpp) hands each document of each Word to one; a backup of
// one document alone (BackupRun::BackUpOne) does the same.
#include "engine/BackupJournal.h"
#include "engine/BackupOptions.h"
#include "engine/ClosedUnsaved.h"
#include "engine/DocumentCopy.h"
#include "engine/DocumentWay.h"
#include "engine/Housekeeping.h"
#include "engine/RecoveredCopies.h"
#include "engine/RunHost.h"
#include "engine/RunState.h"
#include "engine/WordDocument.h"

#include <optional>
#include <set>
#include <string>
#include <unordered_set>

// What the documents of one run share.  run.user is the Word whose
// documents are being gone through, run.guard its guard.
struct RunContext {
    RunContext(const BackupOptions& options, RunHost& host, RunState& run, BackupJournal& journal,
               HousekeepingMemory& memory, ClosedUnsavedWatch& watch);

    const BackupOptions& options;
    RunHost& host;
    RunState& run;
    BackupJournal& journal;
    // Kept open through the run only: between runs another Orvelle may
    // compact it.  Declared before what uses it, so let go of after them.
    // None for a take beside a run, which leaves the journal as the run holds it.
    struct JournalRelease {
        BackupJournal* journal;
        ~JournalRelease() {
            if (journal) journal->release();
        }
    } journalRelease{&journal};
    ClosedUnsavedWatch& watch;
    RunHousekeeping housekeeping;
    ClipboardCopy clipboardCopy;
    PackageCopy packageCopy;
    RecoveredContent recovered;
    // Word 2007 and later (a version above 11, for which start-up chose
    // ".docx") give each document's package.
    const bool packageWay;
    bool mayAsk = true;  // the folder picker may be shown
    std::unordered_set<std::wstring> claimed;  // upper case: the paths given out in this run, written or not
    std::set<RunNote> notes;
    std::set<std::wstring> seen;  // the full names gone through, upper case

    Guard& guard() const { return *run.guard; }
    // Tells the host the notes that hold for the run.
    void tellNotes();
};

// What a backup must have of Word while the document is open: who it is,
// the way it goes and, on the package way, its package as Word gave it.
// The rest (folder, path, write, record) needs Word no more.
struct TakenDocument {
    RunDocument backup;
    OpenDocument doc;
    std::optional<bool> savedInWord;
    std::optional<ContentFingerprint> fileStamp;  // of a saved file, when unchanged ones are skipped
    WayFacts facts;
    WayDecision way;
    std::optional<std::wstring> flatOpc;  // taken, not yet written
};

class DocumentBackup {
public:
    // document: held from the Word's snapshot, never mistaken for another
    // one that moved to its place meanwhile.
    DocumentBackup(RunContext& run, Dispatch document) : c_(run) { t_.backup.document = std::move(document); }
    DocumentBackup(RunContext& run, TakenDocument taken) : c_(run), t_(std::move(taken)) {}
    // The backup written; none when the document got none.
    std::optional<SavedBackup> run();
    // Inside Word's close: what needs the document, its package read and
    // Word let go of.  False when it gets no backup (saved, protected so
    // that none goes, closed, or not on the package way).
    bool take();
    TakenDocument& taken() { return t_; }
    // Once Word's close has returned: the rest of what take() began.
    std::optional<SavedBackup> writeTaken();

private:
    bool resolve();
    WayDecision decideWay();
    bool chooseFolder();
    bool claimPath(const std::wstring& extension);
    bool write(WayDecision way);
    template <class Copy, class Write>
    bool writeToFreeName(const std::wstring& extension, const Copy& copy, Write write);
    bool writePackage(const DocxPackage& package, const std::wstring& extension);
    bool writeClassic();
    std::optional<SavedBackup> writeAndRecord();
    SavedBackup record();

    RunContext& c_;
    TakenDocument t_;
    std::wstring folder_;
};
