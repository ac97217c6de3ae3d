#include "engine/ClosedUnsaved.h"

#include "common/FileTime.h"
#include "common/Handle.h"
#include "engine/WebFolders.h"

#include <algorithm>

namespace {

bool WrittenSince(const std::wstring& file, std::uint64_t since) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return !file.empty() && GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
           Ticks(data.ftLastWriteTime) > since;
}

// The same process as when it was seen: its id is not yet given to another.
bool IsRunning(const WordProcess& word) {
    UniqueHandle process(word.id ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, word.id) : nullptr);
    FILETIME created, exited, kernel, user;
    DWORD code = 0;
    return process && GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE &&
           GetProcessTimes(process.get(), &created, &exited, &kernel, &user) && Ticks(created) == word.started;
}

}  // namespace

void ClosedUnsavedWatch::runStarted() {
    for (auto& [identity, document] : known_) document.seenNow = document.isNew = document.keep = false;
    seenThrough_.clear();
}

void ClosedUnsavedWatch::seen(const OpenDocument& open, bool unsaved) {
    auto [at, isNew] = known_.try_emplace(open.identity.key());
    Known& document = at->second;
    document.name = open.name;
    document.word = open.process;
    document.unsaved = unsaved;
    document.neverSaved = open.neverSaved();
    document.onTheWeb = open.onTheWeb;
    document.file = open.onDisk() ? open.identity.name : std::wstring();
    if (open.onTheWeb && unsaved)
        if (const std::wstring synced = SyncedFolderOf(open.path); !synced.empty())
            document.file = synced + L"\\" + open.name;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    document.seenAt = Ticks(now);
    document.seenNow = true;
    document.isNew = isNew;
}

void ClosedUnsavedWatch::backedUp(const std::wstring& identity, const std::wstring& backupPath,
                                  const SYSTEMTIME& now) {
    if (auto at = known_.find(identity); at != known_.end()) {
        at->second.backupPath = backupPath;
        at->second.backupTime = now;
    }
}

void ClosedUnsavedWatch::seenThrough(const WordProcess& word) { seenThrough_.push_back(word); }

void ClosedUnsavedWatch::notSeenThrough(const WordProcess& word) {
    for (auto& [identity, document] : known_)
        if (document.word == word) document.keep = true;
}

std::vector<ClosedDocument> ClosedUnsavedWatch::runEnded() {
    // Per Word, the saved documents that appeared since the last run,
    // typed in since or not: each may be one of its documents
    // under the name it was saved as.
    std::map<std::pair<DWORD, std::uint64_t>, int> savedAsCandidates;
    auto of = [](const Known& document) { return std::pair(document.word.id, document.word.started); };
    for (const auto& [identity, document] : known_)
        if (document.seenNow && document.isNew && !document.neverSaved) ++savedAsCandidates[of(document)];

    std::vector<ClosedDocument> closed;
    for (auto at = known_.begin(); at != known_.end();) {
        Known& document = at->second;
        const bool wordSeen = std::ranges::find(seenThrough_, document.word) != seenThrough_.end();
        if (document.seenNow || document.keep || (!wordSeen && IsRunning(document.word))) {
            ++at;
            continue;
        }
        // Whether a web document was saved shows only in its synced copy.
        const bool savedSince = document.onTheWeb ? document.file.empty() || WrittenSince(document.file, document.seenAt)
                                                  : WrittenSince(document.file, document.seenAt);
        int& savedAs = savedAsCandidates[of(document)];
        if (document.unsaved && !document.backupPath.empty() && !savedSince) {
            if (savedAs > 0)
                --savedAs;
            else
                closed.push_back({document.name, document.backupPath, document.backupTime});
        }
        at = known_.erase(at);
    }
    return closed;
}

std::vector<ClosedDocument> ClosedUnsavedWatch::wordGone() {
    runStarted();
    return runEnded();
}
