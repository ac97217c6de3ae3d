// The run: the user's Words found, each Word's documents handed in turn to
// a DocumentBackup, then housekeeping, notes and the closed-unsaved watch.
//
// Steps: 1 the clipboard taken, 2 a Word's documents listed, 6 the Words of
// the running-object table, 45 pruning; the documents' in DocumentBackup.cpp.
#include "engine/SaveWord.h"

#include "common/ErrorReport.h"
#include "common/Guard.h"
#include "engine/DocumentBackup.h"
#include "engine/HistoryFile.h"
#include "engine/RecoveredCopies.h"
#include "engine/RunState.h"
#include "engine/WordInstances.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Each call that lets go of a Word that did not answer.
constexpr auto kLetGoAnswer = std::chrono::milliseconds(1000);

// Points the run object at the run under way for as long as it lasts.
class ActiveRun {
public:
    ActiveRun(RunState*& slot, RunState& state) : slot_(slot) { slot_ = &state; }
    ~ActiveRun() { slot_ = nullptr; }

private:
    RunState*& slot_;
};

// A guard of the run's: each Word's failures are its own, so that a Word
// that dies or stays busy stops only its own documents.
Guard RunGuard(RunState& run) {
    Guard guard(L"SaveWord", L"SaveAll");
    guard.stopAfter([&run](const Failure& failure) { return run.endsRunAfter(failure) || DidNotAnswer(failure); });
    // A Word that does not answer is told of once, at the end.
    guard.holdBack(DidNotAnswer);
    return guard;
}

void TellClosed(RunHost& host, const std::vector<ClosedDocument>& closed) {
    if (!closed.empty()) host.DocumentsClosedUnsaved(closed);
}

// 5, 6: unless a closing window has done it already.
void Finish(RunState& run) {
    if (run.finished) return;
    Guard cleanup(L"SaveWord", L"SaveAll");
    run.finish(cleanup);
}

// The clipboard way needs the user's content in hand first: without it
// the run must not touch the clipboard at all, and the next run tries again.
bool ReadyForTheWay(RunContext& context) {
    return context.packageWay || (context.clipboardCopy.takeClipboard() && !context.run.finished);
}

// One Word's documents in collection order, from one snapshot; true when
// every one of them was gone through.
bool BackUpWord(FoundWord& found, RunContext& context) {
    RunState& run = context.run;
    Guard& guard = context.guard();
    run.user.reset();
    std::vector<Dispatch> documents;
    bool listed = false;
    guard.step(2, [&] {
        run.user.attach(found.app);
        documents = run.user.snapshot();
        listed = true;
    });
    // A Word found without a window of its own: its process names its
    // never-saved documents.
    if (!found.process.id && !documents.empty()) found.process = ProcessOfWord(found.app);
    run.user.process = found.process;
    context.host.WordFound(found);
    for (const Dispatch& document : documents)
        if (!guard.stopped()) DocumentBackup(context, document).run();
    const bool seenThrough = listed && !guard.stopped();
    // A Word that died or did not answer: its documents may still be open.
    if (seenThrough)
        context.watch.seenThrough(found.process);
    else
        context.watch.notSeenThrough(found.process);
    if (guard.heldBack()) {
        // Letting go of a Word that does not answer waits on it too.
        CallScope brief(kLetGoAnswer);
        documents.clear();
        run.user.reset();
    }
    return seenThrough;
}

// 2-4: each Word in turn; then the Words that only the running-object table
// knows.  True when every Word was gone through; noAnswer: the first call
// that a Word did not answer.
bool GoThroughWords(WordInstances& instances, RunContext& context, Guard& guard,
                    std::optional<Guard::Held>& noAnswer) {
    RunState& run = context.run;
    auto renewGuard = [&] {
        if (!noAnswer) noAnswer = guard.heldBack();
        guard = RunGuard(run);
    };
    std::vector<FoundWord> words = instances.backedUp();
    bool throughAll = true, tableAsked = false;
    for (size_t w = 0; w < words.size() && !run.finished && !run.clipboardInUse; ++w) {
        if (w > 0) renewGuard();
        throughAll = BackUpWord(words[w], context) && throughAll;
        if (w + 1 == words.size() && !run.finished && !std::exchange(tableAsked, true)) {
            if (guard.stopped()) renewGuard();
            guard.step(6, [&] {
                std::ranges::move(instances.fromRunningObjectTable(context.seen), std::back_inserter(words));
            });
        }
    }
    return throughAll;
}

}  // namespace

BackupRun::BackupRun() = default;
BackupRun::~BackupRun() = default;

void BackupRun::FinishRunNow() {
    if (!state_ || state_->finished) return;
    if (state_->guard) state_->guard->stop();
    // Nobody is left to read a report: the window is closing.
    Guard quiet = Guard::Quiet();
    state_->finish(quiet);
}

BackupJournal& BackupRun::journalFor(const BackupOptions& options) {
    if (!journal_ || journal_->file() != options.journalFile)
        journal_ = std::make_unique<BackupJournal>(options.journalFile);
    journal_->refresh();
    return *journal_;
}

RunOutcome BackupRun::SaveAll(BackupOptions options, RunHost& host) {
    // A click on the test button while a run waits for the clipboard or the
    // folder picker is ignored: the run under way covers every document.
    if (state_) return RunOutcome::AlreadyRunning;
    // Every call of the run is bounded, its busy waits within one bound.
    CallScope calls;
    RunState run(options.owner);
    ActiveRun active(state_, run);
    // Copies of protected backups that Word has let go of since the last run.
    RemoveReleasedCopies();

    // 1: every Word the user works in.
    WordInstances instances;
    switch (instances.find()) {
    case WordState::NotRunning:
        // Word is gone, and with it whatever was never saved.
        TellClosed(host, closedUnsaved_.wordGone());
        toldOfAnswers(true, 1);
        return RunOutcome::NoWord;
    case WordState::Busy: toldOfAnswers(false, 1); return RunOutcome::WordDidNotAnswer;
    case WordState::Running: break;
    }
    host.BackupStarted();
    struct Ended {
        RunHost& host;
        ~Ended() { host.BackupEnded(); }
    } ended{host};

    Guard guard = RunGuard(run);
    run.guard = &guard;
    RunContext context(options, host, run, journalFor(options), housekeepingMemory_, closedUnsaved_);
    if (!ReadyForTheWay(context)) return RunOutcome::Done;
    // A run that goes the classic way for every document makes what it
    // needs first, as it always has; otherwise only the first document
    // that needs it does.
    if (!context.packageWay) context.clipboardCopy.start();
    closedUnsaved_.runStarted();
    std::optional<Guard::Held> noAnswer;  // the first call that a Word did not answer
    const bool throughAll = GoThroughWords(instances, context, guard, noAnswer);
    endRun(context, instances, guard, throughAll, noAnswer);
    return RunOutcome::Done;
}

void BackupRun::endRun(RunContext& context, const WordInstances& instances, Guard& guard, bool throughAll,
                       std::optional<Guard::Held> noAnswer) {
    RunState& run = context.run;
    if (!noAnswer) noAnswer = guard.heldBack();
    if (!run.finished) guard = RunGuard(run);
    // A Word that did not answer keeps its documents' state: no balloon
    // from this run, and the next run tries again.
    for (const WordProcess& process : instances.unanswered()) context.watch.notSeenThrough(process);
    const bool allAnswered = !noAnswer && instances.allAnswered();
    if (!allAnswered) context.notes.insert(RunNote::WordDidNotAnswer);
    if (throughAll && !run.finished) context.recovered.forgetClosedComparisons();
    guard.step(45, [&] {
        const std::wstring line = context.housekeeping.prune();
        if (!line.empty()) AppendHistoryLine(context.options.historyFile, line);
    });
    context.journal.compactIfMostlyGone();
    context.tellNotes();
    // Only a run that went through every Word knows what is gone.
    if (!run.finished && !run.clipboardInUse && allAnswered && instances.tableAnswered())
        TellClosed(context.host, closedUnsaved_.runEnded());
    // Nobody is left to read a report after a closing window finished the run.
    const bool closing = run.finished;
    Finish(run);
    if (!closing) toldOfAnswers(allAnswered, noAnswer ? noAnswer->step : 1);
}

OneBackup BackupRun::alone(const BackupOptions& options, RunHost& host,
                           const std::function<std::optional<SavedBackup>(RunContext&)>& backUp) {
    if (state_) return {RunOutcome::AlreadyRunning};
    CallScope calls;
    RunState run(options.owner);
    ActiveRun active(state_, run);
    Guard guard = RunGuard(run);
    run.guard = &guard;
    RunContext context(options, host, run, journalFor(options), housekeepingMemory_, closedUnsaved_);
    context.mayAsk = false;
    OneBackup result;
    if (ReadyForTheWay(context)) result.written = backUp(context);
    context.tellNotes();
    Finish(run);
    return result;
}

void BackupRun::toldOfAnswers(bool allAnswered, int step) {
    if (allAnswered) noAnswerTold_ = false;
    else if (!std::exchange(noAnswerTold_, true))
        ReportError(Location(L"SaveWord", L"SaveAll"), step, Failure::Text(kWordDidNotAnswerText));
}

OneBackup BackupRun::BackUpOne(const Dispatch& word, const Dispatch& document, BackupOptions options,
                               RunHost& host) {
    return alone(options, host, [&](RunContext& context) -> std::optional<SavedBackup> {
        Guard& guard = context.guard();
        guard.step(2, [&] { context.run.user.attach(word); });
        context.run.user.process = ProcessOfWord(word);
        if (guard.stopped()) return std::nullopt;
        return DocumentBackup(context, document).run();
    });
}

std::shared_ptr<TakenDocument> BackupRun::TakeOne(const Dispatch& word, const WordProcess& process,
                                                  const Dispatch& document, BackupOptions options, RunHost& host) {
    // A state of its own: a run under way keeps its own, and its journal
    // stays as the run holds it (a take needs none).
    RunState run(options.owner);
    Guard guard = RunGuard(run);
    run.guard = &guard;
    if (!journal_) journal_ = std::make_unique<BackupJournal>(options.journalFile);
    RunContext context(options, host, run, *journal_, housekeepingMemory_, closedUnsaved_);
    context.journalRelease.journal = nullptr;
    context.mayAsk = false;
    std::shared_ptr<TakenDocument> taken;
    if (context.packageWay) {
        run.user.app = word;
        // Word waits: no call that the listener already knows the answer to.
        run.user.process = process.id ? process : ProcessOfWord(word);
        DocumentBackup backup(context, document);
        if (backup.take() && !guard.stopped()) taken = std::make_shared<TakenDocument>(std::move(backup.taken()));
    }
    context.tellNotes();
    Finish(run);
    return taken;
}

OneBackup BackupRun::WriteTaken(const TakenDocument& taken, BackupOptions options, RunHost& host) {
    return alone(options, host, [&](RunContext& context) { return DocumentBackup(context, taken).writeTaken(); });
}
