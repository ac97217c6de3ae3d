#include "engine/ClosedUnsaved.h"

#include "common/FileTime.h"

namespace {

bool WrittenSince(const std::wstring& file, std::uint64_t since) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return !file.empty() && GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
           Ticks(data.ftLastWriteTime) > since;
}

}  // namespace

void ClosedUnsavedWatch::runStarted() {
    for (auto& [identity, document] : known_) document.seenNow = document.isNew = document.keep = false;
}

void ClosedUnsavedWatch::seen(const std::wstring& identity, const std::wstring& name, const WordProcess& word,
                              bool unsaved, const std::wstring& file) {
    auto [at, isNew] = known_.try_emplace(identity);
    Known& document = at->second;
    document.name = name;
    document.word = word;
    document.unsaved = unsaved;
    document.file = file;
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

void ClosedUnsavedWatch::notSeenThrough(const WordProcess& word) {
    for (auto& [identity, document] : known_)
        if (document.word == word) document.keep = true;
}

std::vector<ClosedDocument> ClosedUnsavedWatch::runEnded() {
    // Per Word, the saved documents that appeared since the last run: each
    // may be one of its unsaved documents under the name it was saved as.
    std::map<std::pair<DWORD, std::uint64_t>, int> savedAsCandidates;
    auto of = [](const Known& document) { return std::pair(document.word.id, document.word.started); };
    for (const auto& [identity, document] : known_)
        if (document.seenNow && document.isNew && !document.unsaved) ++savedAsCandidates[of(document)];

    std::vector<ClosedDocument> closed;
    for (auto at = known_.begin(); at != known_.end();) {
        Known& document = at->second;
        if (document.seenNow || document.keep) {
            ++at;
            continue;
        }
        int& savedAs = savedAsCandidates[of(document)];
        if (document.unsaved && !document.backupPath.empty() && !WrittenSince(document.file, document.seenAt)) {
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
