// The classic copy through the clipboard, into the run's backup and scratch
// instances.
#include "engine/DocumentCopy.h"

#include "common/ClipboardLock.h"
#include "common/CompleteFile.h"
#include "common/Main.h"
#include "common/MessagePump.h"
#include "common/MonotonicClock.h"
#include "engine/Housekeeping.h"
#include "engine/RunState.h"
#include "engine/WordDocument.h"
#include "engine/WordProbes.h"

#include <chrono>
#include <utility>

namespace {

// A copy that never reaches the clipboard must not leave the run waiting
// forever, nor let older clipboard content pass as this document's.
constexpr auto kClipboardWaitBound = std::chrono::seconds(10);
// Another program that copies between our Copy and Paste is rare; a
// clipboard that keeps changing under us is not worth chasing further.
constexpr int kCopyAttempts = 3;

// True while the clipboard offers none of the formats that
// GetClipboardFormat recognises (text, RTF, pictures, a DDE link).
bool IsClipboardEmpty() { return GetClipboardFormat() == 0; }

// Waits, with the window messages running, until the clipboard offers one of
// the recognised formats.  Fails when the bound passes first; answers false
// when the run was finished meanwhile (the window closed).
bool WaitForClipboard(const RunState& run) {
    auto start = MonotonicClock::now();
    while (IsClipboardEmpty()) {
        if (MonotonicClock::now() - start >= kClipboardWaitBound)
            throw Failure::Text(L"The document's content did not reach the clipboard within 10 seconds.");
        WaitPumping(10);
        if (run.finished) return false;
    }
    return true;
}

// A call of Word's that failed while another program keeps the clipboard
// open failed because of that: say so, and the run ends.
template <class F>
void ThroughClipboard(HWND owner, F&& call) {
    try {
        call();
    } catch (const Failure&) {
        ClipboardLock probe(owner);
        throw;
    }
}

// Copies the whole of the document to the clipboard and pastes it into target.
// The clipboard is emptied first, so that only this copy can end the wait,
// and checked after the paste, so that a copy another program made meanwhile
// is never saved as this document: that copy is taken again.  Answers false
// when nothing (or not this document's content) was pasted.
bool CopyDocumentInto(RunState& run, int firstStep, const Dispatch& source, const Word& targetWord,
                      const Dispatch& target) {
    Guard& guard = *run.guard;
    if (!guard.test(firstStep, [&] { return IsStillOpen(source); })) return false;
    // Only the backup's copy says so, once per run: a program that answers
    // every copy with its own would otherwise be reported for each document.
    auto contested = [&](int attempt) {
        if (attempt < kCopyAttempts) return true;
        if (&targetWord == &run.backup && !std::exchange(run.contestReported, true))
            throw Failure::Text(L"Other programs kept changing the clipboard while the document was copied, so "
                                L"its backup was not saved.");
        return false;
    };
    bool pasted = false, copyAgain = true;
    for (int attempt = 1; copyAgain && !guard.stopped(); ++attempt) {
        bool copied = false;
        copyAgain = false;
        guard.step(firstStep + 1, [&] {
            run.clipboard.empty();
            if (Dispatch range = run.user.range(source))
                ThroughClipboard(run.owner, [&] {
                    CallScope whole(CallAnswerBounds().document);
                    range.call(L"Copy");
                });
            if (!WaitForClipboard(run)) return;
            copied = run.clipboard.markCopied();
            if (!copied) copyAgain = contested(attempt);
        });
        if (!copied) {
            if (copyAgain) continue;
            return false;
        }
        guard.step(firstStep + 2, [&] {
            ThroughClipboard(run.owner, [&] {
                CallScope whole(CallAnswerBounds().document);
                targetWord.range(target).call(L"Paste");
            });
            pasted = run.clipboard.holdsCopy();
            if (!pasted) copyAgain = contested(attempt);
        });
    }
    return pasted;
}

}  // namespace

bool ClipboardCopy::takeClipboard() {
    if (clipboardTried_) return clipboardTaken_;
    clipboardTried_ = true;
    run_.guard->step(1, [&] {
        run_.clipboard.takeSnapshot();
        clipboardTaken_ = true;
    });
    return clipboardTaken_;
}

void ClipboardCopy::start() {
    if (started_) return;
    started_ = true;
    Guard& guard = *run_.guard;
    guard.step(3, [&] { run_.backup.attach(Dispatch::Create(kWordProgId)); });
    guard.step(4, [&] { run_.scratch.attach(Dispatch::Create(kWordProgId)); });
}

bool ClipboardCopy::backUp(const RunDocument& doc) {
    if (!takeClipboard() || run_.finished) return false;
    start();
    Guard& guard = *run_.guard;
    // 4e-4i: copy into a new document of the backup instance and save it.
    Dispatch backupDocument;
    guard.step(20, [&] { backupDocument = run_.backup.add(); });
    bool saved = false;
    held_ = false;
    if (CopyDocumentInto(run_, 21, doc.document, run_.backup, backupDocument) &&
        housekeeping_.worthSaving(guard, doc.identity, doc.path)) {
        guard.step(24, [&] {
            try {
                // Word refuses a name another program holds (the user opened
                // the day's backup): asked again while it is held.
                held_ = !RetryWhileHeld([&] {
                    try {
                        CallScope whole(CallAnswerBounds().document);
                        backupDocument.call(L"SaveAs", {}, {{L"fileName", doc.path}});
                        return true;
                    } catch (const Failure& failure) {
                        if (IsServerGone(failure) || DidNotAnswer(failure) || !IsHeldByAnotherProgram(doc.path)) throw;
                        SetLastError(ERROR_SHARING_VIOLATION);
                        return false;
                    }
                });
            } catch (const Failure& failure) {
                if (IsServerGone(failure) || DidNotAnswer(failure)) throw;
                return housekeeping_.writeFailed(doc.path, failure);
            }
            if (held_) return;
            saved = true;
            housekeeping_.saved(doc.identity);
        });
    }
    // Closed with saving only when the backup was written; an unsaved
    // backup document is discarded, never saved under a wrong content.
    guard.step(25, [&] {
        CallScope whole(CallAnswerBounds().document);  // closing with saving writes the file again
        if (backupDocument) backupDocument.call(L"Close", {saved});
    });
    backupDocument.reset();

    // 4j: the same copy into a scratch document, closed unsaved.
    if (!run_.scratchGone) {
        Dispatch scratchDocument;
        guard.step(30, [&] { scratchDocument = run_.scratch.add(); });
        if (!run_.scratchGone) CopyDocumentInto(run_, 31, doc.document, run_.scratch, scratchDocument);
        guard.step(34, [&] {
            if (scratchDocument && !run_.scratchGone) scratchDocument.call(L"Close", {false});
        });
    }
    return saved;
}
