#pragma once
// A search of backups' texts on threads of their own (two: the machine's
// cores are few), so that the window keeps answering while hundreds of
// megabytes of packages are read.  Texts read are kept in the shared
// BackupTexts, so that the next search reads no file again.
#include "backupswindow/BackupText.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SearchItem {
    size_t document = 0, backup = 0;  // the caller's indices, handed back
    std::wstring path;
    std::uint64_t written = 0, size = 0;
};

struct SearchHit {
    size_t document = 0, backup = 0;
    enum Kind { Holds, Classic, Unreadable } kind = Holds;
    int matches = 0;  // Holds: how often the words occur
};

// The status line's text when no search thread could be started.
inline constexpr wchar_t kSearchNotStarted[] = L"The backups could not be searched: no thread could be started.";

class BackupSearch {
public:
    // Starts at once, items in the order given (newest first).  Whenever
    // hits or progress wait to be taken, one message is posted to window (no
    // second one until take is called).  Throws Failure (kSearchNotStarted)
    // when not one of its threads could be started.
    BackupSearch(std::shared_ptr<BackupTexts> texts, std::wstring words, std::vector<SearchItem> items,
                 HWND window, UINT message);
    // Stops the search without waiting: a thread in the middle of a package
    // ends after it, and posts nothing more.
    ~BackupSearch();
    BackupSearch(const BackupSearch&) = delete;
    BackupSearch& operator=(const BackupSearch&) = delete;

    // Appends the hits found since the last call; answers whether the
    // search is over.  searched: how many items are done.
    bool take(std::vector<SearchHit>& hits, size_t& searched);
    size_t total() const;

    // How often query (folded) occurs in text's parts.
    static int Count(const BackupText& text, const std::wstring& query);

private:
    struct State;
    static void Work(State& state);
    std::shared_ptr<State> state_;
};
