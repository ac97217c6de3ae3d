#include "engine/SaveWord.h"

#include "common/Automation.h"
#include "common/ClipboardLock.h"
#include "common/Guard.h"
#include "common/Handle.h"
#include "common/Main.h"
#include "common/MessagePump.h"
#include "common/Text.h"
#include "engine/Clipboard.h"
#include "engine/Housekeeping.h"

#include <chrono>
#include <utility>

namespace {

// A copy that never reaches the clipboard must not leave the run waiting
// forever, nor let older clipboard content pass as this document's.
constexpr auto kClipboardWaitBound = std::chrono::seconds(10);
// Another program that copies between our Copy and Paste is rare; a
// clipboard that keeps changing under us is not worth chasing further.
constexpr int kCopyAttempts = 3;

// One Word instance as the run uses it: the application and its Documents
// collection, both held for the run (the count is still read afresh before
// each read of a document), and one id cache for its documents and one for
// their ranges, whose ids are the same for every one of them.
struct Word {
    Dispatch app, documents;
    std::shared_ptr<MemberIds> documentIds = std::make_shared<MemberIds>();
    std::shared_ptr<MemberIds> rangeIds = std::make_shared<MemberIds>();

    void attach(Dispatch application) {
        app = std::move(application);
        documents = app.get(L"Documents").toDispatch();
    }
    explicit operator bool() const { return !app.empty(); }
    void reset() {
        documents.reset();
        app.reset();
    }

    short count() const {
        long count = documents.get(L"count").toLong();
        if (count < -32768 || count > 32767) throw Failure::Overflow();
        return static_cast<short>(count);
    }
    // Document i, passed by reference as a 16-bit integer.
    Dispatch document(short& i) const {
        return documents.get(L"Item", {Variant::ByRef(&i)}).toDispatch().shareIds(documentIds);
    }
    Dispatch add() const { return documents.call(L"add").toDispatch().shareIds(documentIds); }
    // The whole content of a document; empty when no range came back.
    Dispatch range(const Dispatch& document) const {
        Variant range = document.get(L"Range");
        return range.isObject() ? range.toDispatch().shareIds(rangeIds) : Dispatch();
    }
};

// False once the server behind the reference has gone; one cheap call.
bool Alive(const Word& instance) {
    if (!instance) return false;
    UINT count = 0;
    return !IsServerGone(Failure(instance.app.raw()->GetTypeInfoCount(&count), L""));
}

// Quits an instance of our own; one that has already gone needs no word.
void Quit(const Word& instance) {
    try {
        instance.app.call(L"Quit");
    } catch (const Failure& failure) {
        if (!IsServerGone(failure)) throw;
    }
}

// What a run holds that must be let go of even when the run cannot get
// back to its own end (the window closes while it waits).
struct RunState {
    explicit RunState(HWND owner) : owner(owner), clipboard(owner) {}

    HWND owner;
    Word user, backup, scratch;
    bool scratchGone = false;
    bool clipboardInUse = false;
    bool contestReported = false;
    RunClipboard clipboard;
    Guard* guard = nullptr;
    bool finished = false;

    // After a failure: does the run end?  A clipboard kept by another
    // program, or the user's Word or the backup instance gone, ends it (one
    // report, not one per later step); a dead scratch instance only ends
    // the scratch copies.
    bool endsRunAfter(const Failure& failure) {
        if (IsClipboardInUse(failure)) return clipboardInUse = true;
        if (!IsServerGone(failure)) return false;
        if (Alive(user) && Alive(backup) && !Alive(scratch)) {
            scratchGone = true;
            return false;
        }
        return true;
    }

    // Both instances of our own are told to quit; the user's never is.
    void quitInstances(Guard& cleanup) {
        backup.documents.reset();
        scratch.documents.reset();
        if (backup) cleanup.step(50, [&] { Quit(backup); });
        if (scratch && !scratchGone) cleanup.step(51, [&] { Quit(scratch); });
        backup.reset();
        scratch.reset();
        user.reset();
    }
    void finish(Guard& cleanup) {
        finished = true;
        quitInstances(cleanup);
        // A run that has said the clipboard is in use says it once.
        Guard quiet = Guard::Quiet();
        (clipboardInUse ? quiet : cleanup).step(52, [&] {
            try {
                clipboard.restore();
            } catch (const Failure& failure) {
                if (!IsClipboardInUse(failure)) throw;
                throw Failure::Text(L"The clipboard is in use by another program, so what you had copied before "
                                    L"the backup could not be put back.");
            }
        });
    }
};

RunState* g_run = nullptr;

class ActiveRun {
public:
    explicit ActiveRun(RunState& state) { g_run = &state; }
    ~ActiveRun() { g_run = nullptr; }
};

// True while the clipboard offers none of the formats that
// GetClipboardFormat recognises (text, RTF, pictures, a DDE link).
bool IsClipboardEmpty() { return GetClipboardFormat() == 0; }

// Waits, with the window messages running, until the clipboard offers one of
// the recognised formats.  Fails when the bound passes first; answers false
// when the run was finished meanwhile (the window closed).
bool WaitForClipboard(const RunState& run) {
    auto start = std::chrono::steady_clock::now();
    while (IsClipboardEmpty()) {
        if (std::chrono::steady_clock::now() - start >= kClipboardWaitBound)
            throw Failure::Text(L"The document's content did not reach the clipboard within 10 seconds.");
        Sleep(10);
        ProcessPendingMessages();
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

// Copies the whole of document i to the clipboard and pastes it into target.
// The clipboard is emptied first, so that only this copy can end the wait,
// and the copy counts only when the process that filled it is the one that
// emptied it for the copy; after the paste it is checked again.  Content
// another program wrote, however soon after Word's copy, is never saved as
// this document: the document is copied again, a bounded number of times.
// Answers false when nothing (or not this document's content) was pasted.
bool CopyDocumentInto(RunState& run, int firstStep, short i, const Dispatch& source, const Word& targetWord,
                      const Dispatch& target) {
    Guard& guard = *run.guard;
    if (!guard.test(firstStep, [&] { return run.user.count() >= i; })) return false;
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
            if (Dispatch range = run.user.range(source)) ThroughClipboard(run.owner, [&] { range.call(L"Copy"); });
            if (!WaitForClipboard(run)) return;
            copied = run.clipboard.markCopied();
            if (!copied) copyAgain = contested(attempt);
        });
        if (!copied) {
            if (copyAgain) continue;
            return false;
        }
        guard.step(firstStep + 2, [&] {
            ThroughClipboard(run.owner, [&] { targetWord.range(target).call(L"Paste"); });
            pasted = run.clipboard.holdsCopy();
            if (!pasted) copyAgain = contested(attempt);
        });
    }
    return pasted;
}

}  // namespace

bool IsBackupRunning() { return g_run != nullptr; }

void FinishRunNow() {
    if (!g_run || g_run->finished) return;
    if (g_run->guard) g_run->guard->stop();
    // Nobody is left to read a report: the window is closing.
    Guard quiet = Guard::Quiet();
    g_run->finish(quiet);
}

void AppendHistoryLine(const std::wstring& historyFile, const std::wstring& line) {
    UniqueFile file(CreateFileW(historyFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw Failure::FromLastError();
    std::string bytes = ToAnsi(line + L"\r\n");
    DWORD written = 0;
    BOOL ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = GetLastError();
    if (!ok || written != bytes.size()) throw Failure::FromWin32(ok ? ERROR_WRITE_FAULT : error);
}

RunOutcome SaveAll(BackupSettings& settings) {
    // A click on the test button while a run waits for the clipboard or the
    // folder picker is ignored: the run under way covers every document.
    if (g_run) return RunOutcome::AlreadyRunning;
    RunState run(settings.Owner());
    ActiveRun active(run);

    switch (ProbeRunningWord()) {
    case WordState::NotRunning: return RunOutcome::NoWord;
    case WordState::Busy: return RunOutcome::WordDidNotAnswer;
    case WordState::Running: break;
    }
    settings.BackupStarted();
    struct Ended {
        BackupSettings& settings;
        ~Ended() { settings.BackupEnded(); }
    } ended{settings};

    Guard guard(L"SaveWord", L"SaveAll");
    run.guard = &guard;
    guard.stopAfter([&run](const Failure& failure) { return run.endsRunAfter(failure); });

    // Without the user's content in hand the run must not touch the
    // clipboard at all; the next run tries again.
    bool snapshotTaken = false;
    guard.step(1, [&] {
        run.clipboard.takeSnapshot();
        snapshotTaken = true;
    });
    if (!snapshotTaken || run.finished) return RunOutcome::Done;

    guard.step(2, [&] { run.user.attach(Dispatch::GetActive(kWordProgId)); });
    guard.step(3, [&] { run.backup.attach(Dispatch::Create(kWordProgId)); });
    guard.step(4, [&] { run.scratch.attach(Dispatch::Create(kWordProgId)); });

    short total = 0;
    guard.step(5, [&] { total = run.user.count(); });

    // In overwrite mode a document keeps its " (n)" for the whole day; the
    // names of new-file mode carry the time and meet only within a run.
    static BackupPathRegistry overwriteNames;
    BackupPathRegistry newFileNames;
    BackupPathRegistry& names = settings.CreateNewFile() ? newFileNames : overwriteNames;

    RunHousekeeping housekeeping(settings);
    std::wstring folder;
    for (short i = 1; i <= total && !guard.stopped(); ++i) {
        // 4a: documents may have been closed while an earlier one waited.
        if (!guard.test(10, [&] { return run.user.count() >= i; })) continue;
        // Document i is held through its steps: asked for once, and never
        // mistaken for another one that moved to its place meanwhile.
        Dispatch document;
        std::wstring name, documentPath;
        guard.step(11, [&] {
            document = run.user.document(i);
            name = document.get(L"name").toText();
            // The folder: for the backup beside it, or to tell documents of
            // one name apart in overwrite mode.
            if (settings.SaveBesideDocuments() || !settings.CreateNewFile() || settings.SkipUnchanged())
                documentPath = document.get(L"path").toText();
        });

        // 4c: the folder.
        if (settings.SaveBesideDocuments()) {
            if (guard.test(12, [&] { return run.user.count() >= i; }))
                guard.step(13, [&] { folder = documentPath; });
            // A never-saved document has no folder: ask until one is chosen,
            // unless the document is closed meanwhile.
            while (folder.empty() && !guard.stopped()) {
                guard.step(14, [&] {
                    folder = settings.AskForFolder(name + L" is unsaved. Please select location:");
                });
                if (folder.empty() && !guard.test(15, [&] { return run.user.count() >= i; })) break;
            }
        } else if (settings.SaveToFixedFolder()) {
            guard.step(16, [&] { folder = settings.FixedFolder(); });
        }

        // 4d: the backup path, valid whatever the document is called.
        const std::wstring documentKey = documentPath.empty() ? name : documentPath + L"\\" + name;
        std::wstring path;
        guard.step(17, [&] {
            const std::wstring extension = settings.DocExtension();
            // Within one run the index tells documents apart; across runs
            // only the full path does.
            path = names.claim(settings.CreateNewFile() ? std::to_wstring(i) : documentKey,
                               BackupPathFor(folder, name, settings.CreateNewFile(), extension), extension);
            if (settings.CreateNewFile()) housekeeping.wrote(path);
        });

        // 4e-4i: copy into a new document of the backup instance and save it.
        Dispatch backupDocument;
        guard.step(20, [&] { backupDocument = run.backup.add(); });
        bool saved = false;
        if (CopyDocumentInto(run, 21, i, document, run.backup, backupDocument) &&
            housekeeping.worthSaving(guard, documentKey, path)) {
            guard.step(24, [&] {
                backupDocument.call(L"SaveAs", {}, {{L"fileName", path}});
                saved = true;
                housekeeping.saved(documentKey);
            });
        }
        // Closed with saving only when the backup was written; an unsaved
        // backup document is discarded, never saved under a wrong content.
        guard.step(25, [&] {
            if (backupDocument) backupDocument.call(L"Close", {saved});
        });
        backupDocument.reset();

        // 4j: the same copy into a scratch document, closed unsaved.
        if (!run.scratchGone) {
            Dispatch scratchDocument;
            guard.step(30, [&] { scratchDocument = run.scratch.add(); });
            if (!run.scratchGone) CopyDocumentInto(run, 31, i, document, run.scratch, scratchDocument);
            guard.step(34, [&] {
                if (scratchDocument && !run.scratchGone) scratchDocument.call(L"Close", {false});
            });
        }

        // 4k, 4l.
        guard.step(40, [&] { run.user.app.put(L"DisplayAlerts", true); });
        // Only a backup that was written is logged.
        if (saved)
            guard.step(41, [&] {
                AppendHistoryLine(settings.HistoryFile(),
                                  name + L" was backup saved as " + path + L" at " + GeneralDate(LocalNow()));
            });
    }

    guard.step(45, [&] { housekeeping.prune(); });

    // 5, 6: unless a closing window has done it already.
    if (!run.finished) {
        Guard cleanup(L"SaveWord", L"SaveAll");
        run.finish(cleanup);
    }
    return RunOutcome::Done;
}
