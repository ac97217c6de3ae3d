#include "backupswindow/CatalogueLoad.h"

#include "common/Failure.h"
#include "common/SlimLock.h"
#include "common/WorkerThread.h"

#include <atomic>
#include <mutex>

struct CatalogueLoad::State {
    std::wstring historyFile, journalFile;
    std::vector<std::wstring> folders;
    HWND window;
    UINT message;
    std::atomic<bool> stop{false};

    mutable SlimLock mutex;  // guards what follows
    BackupCatalogue found;     // not taken yet
    bool posted = false, finished = false, abandoned = false;
    std::optional<std::wstring> failure;

    // Under mutex: the window hears of new parts once until it takes them,
    // and never after the load was abandoned (it may be gone by then).
    void notify() {
        if (!abandoned && !posted) posted = PostMessageW(window, message, 0, 0) != FALSE;
    }
};

CatalogueLoad::CatalogueLoad(std::wstring historyFile, std::wstring journalFile,
                             std::vector<std::wstring> rememberedFolders, HWND window, UINT message)
    : state_(std::make_shared<State>()) {
    state_->historyFile = std::move(historyFile);
    state_->journalFile = std::move(journalFile);
    state_->folders = std::move(rememberedFolders);
    state_->window = window;
    state_->message = message;
    // The thread holds the state too, for as long as it runs.
    thread_ = StartWorkerThread([state = state_] { Read(*state); });
    if (!thread_) throw Failure::Text(L"The backups could not be read: no thread could be started.");
}

CatalogueLoad::~CatalogueLoad() {
    {
        std::lock_guard lock(state_->mutex);
        state_->abandoned = true;
    }
    state_->stop = true;
    WaitForSingleObject(thread_.get(), 2000);
}

void CatalogueLoad::Read(State& state) {
    std::optional<std::wstring> failure;
    try {
        ReadBackupCatalogue(state.historyFile, state.journalFile, state.folders, state.stop, [&](BackupCatalogue&& part) {
            std::lock_guard lock(state.mutex);
            state.found.merge(std::move(part));
            state.notify();
        });
    } catch (const Failure& f) {
        failure = f.description();
    } catch (const std::exception&) {
        failure = L"There is not enough memory to list the backups.";
    }
    std::lock_guard lock(state.mutex);
    state.failure = std::move(failure);
    state.finished = true;
    state.notify();
}

bool CatalogueLoad::take(BackupCatalogue& catalogue) {
    BackupCatalogue found;
    bool finished;
    {
        std::lock_guard lock(state_->mutex);
        std::swap(found, state_->found);
        state_->posted = false;
        finished = state_->finished;
    }
    catalogue.merge(std::move(found));
    return finished;
}

std::optional<std::wstring> CatalogueLoad::failure() const {
    std::lock_guard lock(state_->mutex);
    return state_->failure;
}
