#include "backupswindow/BackupSearch.h"

#include "common/Failure.h"
#include "common/SlimLock.h"
#include "common/WorkerThread.h"

#include <atomic>
#include <mutex>

namespace {
constexpr int kThreads = 2;
constexpr DWORD kProgressEveryMs = 50;
}  // namespace

struct BackupSearch::State {
    std::shared_ptr<BackupTexts> texts;
    std::wstring query;
    std::vector<SearchItem> items;
    HWND window;
    UINT message;
    std::atomic<bool> stop{false};
    std::atomic<size_t> next{0};

    SlimLock mutex;  // guards what follows
    std::vector<SearchHit> hits;  // not taken yet
    size_t searched = 0;
    int running = 0;
    bool posted = false, abandoned = false;
    ULONGLONG lastPost = 0;

    // Under mutex: one message until the window takes, none once abandoned.
    void notify(bool force) {
        if (abandoned || posted) return;
        const ULONGLONG now = GetTickCount64();
        if (!force && now - lastPost < kProgressEveryMs) return;
        posted = PostMessageW(window, message, 0, 0) != FALSE;
        lastPost = now;
    }
};

BackupSearch::BackupSearch(std::shared_ptr<BackupTexts> texts, std::wstring words, std::vector<SearchItem> items,
                           HWND window, UINT message)
    : state_(std::make_shared<State>()) {
    state_->texts = std::move(texts);
    state_->query = state_->texts->fold().query(words);
    state_->items = std::move(items);
    state_->window = window;
    state_->message = message;
    const int threads = state_->items.size() > 1 ? kThreads : 1;
    state_->running = threads;
    int started = 0;
    for (int i = 0; i < threads; ++i) {
        if (StartWorkerThread([state = state_] { Work(*state); })) {
            ++started;
            continue;
        }
        std::lock_guard lock(state_->mutex);
        --state_->running;
    }
    // One thread is enough; with none the search would never end.
    if (started == 0) throw Failure::Text(kSearchNotStarted);
}

BackupSearch::~BackupSearch() {
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
    state_->stop = true;
}

int BackupSearch::Count(const BackupText& text, const std::wstring& query) {
    int count = 0;
    for (const auto& part : text.parts)
        for (size_t at = FindFolded(part->folded, query); at != std::wstring::npos;
             at = FindFolded(part->folded, query, at + query.size()))
            ++count;
    return count;
}

void BackupSearch::Work(State& state) {
    for (size_t i; !state.stop && (i = state.next++) < state.items.size();) {
        const SearchItem& item = state.items[i];
        std::optional<SearchHit> hit;
        if (IsClassicWordFile(item.path)) {
            hit = SearchHit{item.document, item.backup, SearchHit::Classic};
        } else {
            try {
                const auto text = state.texts->read(item.path, item.written, item.size);
                if (const int count = Count(*text, state.query))
                    hit = SearchHit{item.document, item.backup, SearchHit::Holds, count};
            } catch (const Failure&) {
                hit = SearchHit{item.document, item.backup, SearchHit::Unreadable};
            } catch (const std::exception&) {  // out of memory: this backup is not searched
                hit = SearchHit{item.document, item.backup, SearchHit::Unreadable};
            }
        }
        std::lock_guard lock(state.mutex);
        ++state.searched;
        if (hit) state.hits.push_back(*hit);
        state.notify(hit.has_value());
    }
    std::lock_guard lock(state.mutex);
    --state.running;
    state.notify(true);
}

bool BackupSearch::take(std::vector<SearchHit>& hits, size_t& searched) {
    std::lock_guard lock(state_->mutex);
    hits.insert(hits.end(), state_->hits.begin(), state_->hits.end());
    state_->hits.clear();
    state_->posted = false;
    searched = state_->searched;
    return state_->running == 0;
}

size_t BackupSearch::total() const { return state_->items.size(); }
