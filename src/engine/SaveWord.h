#pragma once
// The backup run: one pass over every document open in the user's Word,
// made by the run object that the window owns; each document goes through
// a DocumentBackup.  Everything here runs on the GUI thread.
#include "common/Automation.h"
#include "common/Guard.h"
#include "engine/BackupJournal.h"
#include "engine/BackupOptions.h"
#include "engine/ClosedUnsaved.h"
#include "engine/Housekeeping.h"
#include "engine/RunHost.h"

#include <functional>
#include <memory>
#include <optional>

// How a run ended, for the window to show.
enum class RunOutcome {
    AlreadyRunning,    // a run was under way: this call did nothing
    NoWord,            // no Word running: nothing to back up
    WordDidNotAnswer,  // a Word is running but stayed busy past the retry bound
    Done,              // the documents were gone through (failures were reported)
};

// What a backup of one document did.
struct OneBackup {
    RunOutcome outcome = RunOutcome::Done;  // AlreadyRunning: nothing was done
    std::optional<SavedBackup> written;     // none when the document got no backup
};

struct RunState;
struct RunContext;
class WordInstances;
struct TakenDocument;
class Guard;

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
    // One document's backup now, as a run makes it (way, folder, name,
    // journal, history line, the closed-unsaved watch): for Word's
    // DocumentBeforeClose and the end of the session.  word: the
    // Application that holds document.  While a run or another backup is
    // under way (waiting, with messages running) it does nothing and
    // answers AlreadyRunning.  Never shows the folder picker: a never-saved
    // document that would need it gets no backup.  Failures are reported as
    // a run's; notes are told to host; BackupStarted/Ended are not.
    OneBackup BackUpOne(const Dispatch& word, const Dispatch& document, BackupOptions options, RunHost& host);
    // BackUpOne in two, for Word's DocumentBeforeClose on the package way.
    // TakeOne, inside the event: only what needs the document (who it is,
    // Saved, protection, its package); none when it gets no backup (saved
    // ones included).  It works even while a run is under way (the event
    // comes in one of the run's calls to Word), and leaves the run's state
    // alone.  process: word's, when known (asked of Word otherwise).
    std::shared_ptr<TakenDocument> TakeOne(const Dispatch& word, const WordProcess& process,
                                           const Dispatch& document, BackupOptions options, RunHost& host);
    // WriteTaken, once the event has returned: folder (never the picker),
    // path, write, journal, history line, BackupSaved, the closed-unsaved
    // watch, as BackUpOne.  AlreadyRunning, doing nothing, while a run or
    // another backup is under way: call again after it.
    OneBackup WriteTaken(const TakenDocument& taken, BackupOptions options, RunHost& host);
    bool running() const { return state_ != nullptr; }

    // For a close or log-off that comes while a run waits (for the clipboard,
    // the folder picker or a report): quits the run's own Word instances and
    // puts the user's clipboard back now, within a bound; the run then does
    // nothing more.  Does nothing when no run is under way.
    void FinishRunNow();

private:
    BackupJournal& journalFor(const BackupOptions& options);
    void endRun(RunContext& context, const WordInstances& instances, Guard& guard, bool throughAll,
                std::optional<Guard::Held> noAnswer);
    // Tells the user that a Word did not answer, once until every Word does.
    void toldOfAnswers(bool allAnswered, int step);
    // A backup of one document while no run is under way.
    OneBackup alone(const BackupOptions& options, RunHost& host,
                    const std::function<std::optional<SavedBackup>(RunContext&)>& backUp);

    RunState* state_ = nullptr;  // the run under way
    bool noAnswerTold_ = false;
    std::unique_ptr<BackupJournal> journal_;  // read on where the last run stopped
    HousekeepingMemory housekeepingMemory_;
    ClosedUnsavedWatch closedUnsaved_;
};
