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

class DocumentBackup {
public:
    // document: held from the Word's snapshot, never mistaken for another
    // one that moved to its place meanwhile.
    DocumentBackup(RunContext& run, Dispatch document) : c_(run) { backup_.document = std::move(document); }
    // The backup written; none when the document got none.
    std::optional<SavedBackup> run();

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
    SavedBackup record();

    RunContext& c_;
    RunDocument backup_;
    OpenDocument doc_;
    std::optional<bool> savedInWord_;
    std::optional<ContentFingerprint> fileStamp_;  // of a saved file, when unchanged ones are skipped
    WayFacts facts_;
    std::wstring folder_;
};
