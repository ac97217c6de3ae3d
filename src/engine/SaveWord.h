#pragma once
// The backup run: one pass over every document open in the user's Word,
// made by the run object that the window owns.  Everything here runs on the
// GUI thread.
#include "engine/BackupJournal.h"
#include "engine/BackupName.h"
#include "engine/BackupOptions.h"
#include "engine/ClosedUnsaved.h"
#include "engine/HistoryFile.h"
#include "engine/Housekeeping.h"
#include "engine/RunState.h"

#include <windows.h>

#include <memory>
#include <string>

// What the status frame says after a run: why a document got no backup, or
// why it went elsewhere than asked.  In the order of precedence.
enum class RunNote {
    WordDidNotAnswer,        // a Word's documents were left for the next run
    NotEnoughSpace,          // reported once per folder, then noted
    FolderRefusedWriting,    // likewise
    RightsManaged,           // never copied, by either way
    PasswordProtected,       // only the clipboard could copy it: not done
    WebDocumentInLocation,   // a document on the web went to the chosen location
};

// A backup the run wrote.
struct SavedBackup {
    std::wstring path;
    bool savedInWord = false;  // Word said the document had no unsaved changes
    WordProcess process;       // of the Word that holds the document
};

// What a run asks of the window that started it.
class RunHost {
public:
    virtual ~RunHost() = default;
    // The folder of a never-saved document (the folder picker, owned by the
    // window); empty when cancelled.
    virtual std::wstring AskForFolder(const std::wstring& prompt) = 0;
    // Told at the end of a run, once for each note that holds for it.
    virtual void BackupNoted(RunNote) {}
    // Told when the run has found Word and begins backing up, and when that
    // backing up is over; not told for a run that finds nothing to do.
    virtual void BackupStarted() {}
    virtual void BackupEnded() {}
    // Told of each backup written, as it is logged.
    virtual void BackupSaved(const SavedBackup&) {}
    // Told at the end of a run of the documents that Word closed with
    // changes that were never saved since the run before; not told of none.
    virtual void DocumentsClosedUnsaved(const std::vector<ClosedDocument>& /*closed*/) {}
};

// How a run ended, for the window to show.
enum class RunOutcome {
    AlreadyRunning,    // a run was under way: this call did nothing
    NoWord,            // no Word running: nothing to back up
    WordDidNotAnswer,  // a Word is running but stayed busy past the retry bound
    Done,              // the documents were gone through (failures were reported)
};

struct RunState;

// Said once, in the error report, when a run is left without a Word's
// documents because that Word did not answer; not again until a run has
// gone through every Word.
inline constexpr wchar_t kWordDidNotAnswerText[] =
    L"Word did not answer in time, so its documents could not all be backed up. The next backup will try again.";

// The backup run and what it keeps from one pass to the next: the journal
// as read so far, and what each document's last backup held.
class BackupRun {
public:
    BackupRun();
    ~BackupRun();
    BackupRun(const BackupRun&) = delete;
    BackupRun& operator=(const BackupRun&) = delete;

    // One backup pass with these options.  Failures are reported under
    // "in Quillbay2021/08/31.SaveWord.SaveAll " and never reach the caller.
    // A call while a run is under way returns at once.
    RunOutcome SaveAll(BackupOptions options, RunHost& host);
    bool running() const { return state_ != nullptr; }

    // For a close or log-off that comes while a run waits (for the clipboard,
    // the folder picker or a report): quits the run's own Word instances and
    // puts the user's clipboard back now, within a bound; the run then does
    // nothing more.  Does nothing when no run is under way.
    void FinishRunNow();

private:
    // Tells the user that a Word did not answer, once until every Word does.
    void toldOfAnswers(bool allAnswered, int step);

    RunState* state_ = nullptr;  // the run under way
    bool noAnswerTold_ = false;
    std::unique_ptr<BackupJournal> journal_;  // read on where the last run stopped
    HousekeepingMemory housekeepingMemory_;
    ClosedUnsavedWatch closedUnsaved_;
};

