// The last moment: one more backup of a changed document when Word is about
// to close it, and of every changed document before the session ends or the
// machine sleeps.  Hints, never the backbone: the timed run stays, and a
// crash gives no event.
#include "mainwindow/Form1.h"

#include "common/Automation.h"
#include "common/ErrorReport.h"
#include "common/Failure.h"
#include "common/MessageBox.h"

#include <process.h>

#include <utility>

namespace {

// Word waits for us inside its close: a package that has not arrived by
// then is left to what the last run kept.
constexpr std::chrono::milliseconds kCloseBound{3000};
// A Word that does not give its documents this soon is left out at the end,
// so that one hung Word does not use up the others' time.
constexpr std::chrono::milliseconds kListBound{700};
// Said to Windows while the session waits for us.
constexpr wchar_t kBlockReason[] = L"Orvelle is backing up your open documents.";

// What a last-moment backup tells: only what it wrote.  Its notes belong
// to no run's status, and it never asks for a folder.
class QuietHost final : public RunHost {
public:
    std::wstring AskForFolder(const std::wstring&) override { return {}; }
    void BackupSaved(const SavedBackup& backup) override { saved.push_back(backup); }
    std::vector<SavedBackup> saved;
};

}  // namespace

// What the session-end thread works on; shared, since it may outlive the
// answer that Windows waited for.
struct Form1::LastMomentJob {
    Form1* form;
    BackupOptions options;
    std::vector<ListenedWord> words;
    std::chrono::milliseconds bound;
    std::vector<SavedBackup> saved;

    static unsigned __stdcall Run(void* parameter) {
        std::shared_ptr<LastMomentJob> job(*static_cast<std::shared_ptr<LastMomentJob>*>(parameter));
        delete static_cast<std::shared_ptr<LastMomentJob>*>(parameter);
        OleScope ole;
        MessageFilterRegistration filter;
        CallDeadline bound(job->bound);
        // The session is ending: a failure is noted, never shown.
        HeldReports quiet;
        QuietHost host;
        for (const ListenedWord& listened : job->words)
            if (const Dispatch app = WordFromTable(listened.tableCookie))
                for (const Dispatch& document : ChangedDocuments(app))
                    job->form->services_->BackUpOne(job->form->run_, app, document, job->options, host);
        job->saved = std::move(host.saved);
        return 0;
    }

    // The documents with unsaved changes, from one walk of the collection.
    static std::vector<Dispatch> ChangedDocuments(const Dispatch& app) {
        std::vector<Dispatch> changed;
        CallDeadline bound(kListBound);
        try {
            Word word;
            word.attach(app);
            for (const Dispatch& document : word.snapshot())
                if (!document.get(L"Saved").toBool()) changed.push_back(document);
        } catch (const Failure&) {
        }
        return changed;
    }
};

void Form1::WordFound(const FoundWord& word) {
    if (!Check12.value() || closing_ || !word.backedUp()) return;
    if (!listeners_) listeners_ = std::make_unique<WordListeners>(*this);
    listeners_->listen(word);
}

namespace {

// Whether a document that Word is about to close has unsaved changes; false
// when it cannot say (gone already: nothing left to read).
bool Changed(const Dispatch& document) {
    try {
        return !document.get(L"Saved").toBool();
    } catch (const Failure&) {
        return false;
    }
}

}  // namespace

// Inside Word's close only what needs the document is taken: who it is and
// its package.  The rest is written once the event has returned, after a
// run under way, so that Word's close waits for one package read and a run
// never meets a backup of the same document beside it.
void Form1::DocumentClosing(const ListenedWord& word, const Dispatch& document) {
    if (!Check12.value() || closing_ || LastMomentUnderWay()) return;
    const BackupOptions options = Options();
    if (!PackageWay(options)) return BackUpInsideTheClose(word, document, options);
    QuietHost host;
    HeldReports held;
    {
        CallDeadline bound(kCloseBound);
        if (auto taken = run_.TakeOne(word.app, word.process, document, options, host))
            taken_.push_back(std::move(taken));
    }
    if (!taken_.empty()) PostMessageW(hwnd_, kWriteTaken, 0, 0);
    ShowLater(held.take());
}

// The classic way needs the clipboard and Words of our own: the whole
// backup inside the event, none while a run is under way.
void Form1::BackUpInsideTheClose(const ListenedWord& word, const Dispatch& document, const BackupOptions& options) {
    QuietHost host;
    HeldReports held;
    {
        CallDeadline bound(kCloseBound);
        if (!Changed(document)) return;  // a saved document's file is its backup
        services_->BackUpOne(run_, word.app, document, options, host);
    }
    for (const SavedBackup& saved : host.saved) BackupSaved(saved);
    if (!taken_.empty()) PostMessageW(hwnd_, kWriteTaken, 0, 0);
    ShowLater(held.take());
}

// Each taken document leaves the queue before it is written: a message
// pumped meanwhile never writes it twice.
void Form1::WriteTaken() {
    if (BackupRunning() || LastMomentUnderWay()) return;
    QuietHost host;
    HeldReports held;
    while (!taken_.empty()) {
        std::shared_ptr<TakenDocument> taken = std::move(taken_.front());
        taken_.erase(taken_.begin());
        if (run_.WriteTaken(*taken, Options(), host).outcome == RunOutcome::AlreadyRunning) {
            taken_.insert(taken_.begin(), std::move(taken));
            break;
        }
    }
    for (const SavedBackup& saved : host.saved) BackupSaved(saved);
    ShowLater(held.take());
}

// Reported once Word has its answer.
void Form1::ShowLater(std::vector<std::wstring> reports) {
    if (reports.empty()) return;
    heldReports_.insert(heldReports_.end(), reports.begin(), reports.end());
    PostMessageW(hwnd_, kShowHeldReports, 0, 0);
}

void Form1::ShowHeldReports() {
    for (const std::wstring& report : std::exchange(heldReports_, {}))
        ShowMessageBox(hwnd_, report, std::wstring(kErrorReportCaption), kErrorReportStyle);
}

void Form1::WordQuitting(const ListenedWord& word) {
    if (listeners_) listeners_->forget(word);
}

bool Form1::LastMomentUnderWay() const {
    return lastMomentThread_ && WaitForSingleObject(lastMomentThread_.get(), 0) == WAIT_TIMEOUT;
}

// On a thread of its own: COM refuses calls out of a message that another
// thread sent, as Windows sends this one.  This thread only waits, so the
// run's state is the other thread's meanwhile; after the answer, nothing
// here touches it until that thread has ended.
void Form1::BackUpBeforeLeaving(std::chrono::milliseconds bound) {
    if (LastMomentUnderWay() || BackupRunning()) return;
    // What Word's closes took is written before the answer.
    WriteTaken();
    if (!Check12.value() || !listeners_ || listeners_->empty()) return;
    auto job = std::make_shared<LastMomentJob>(LastMomentJob{this, Options(), listeners_->words(), bound, {}});
    auto* handed = new std::shared_ptr<LastMomentJob>(job);
    lastMomentThread_.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, LastMomentJob::Run, handed, 0, nullptr)));
    if (!lastMomentThread_) {
        delete handed;
        return;
    }
    const bool blocked = ShutdownBlockReasonCreate(hwnd_, kBlockReason);
    // The thread's own calls end at the bound; the answer comes a little after.
    const bool done = WaitForSingleObject(lastMomentThread_.get(), static_cast<DWORD>(bound.count()) + 400) == WAIT_OBJECT_0;
    if (blocked) ShutdownBlockReasonDestroy(hwnd_);
    if (done)
        for (const SavedBackup& saved : job->saved) BackupSaved(saved);
}
