// The Backups window's listing of 20 documents with 10,000 backups each (a
// 20 MB history, a line per backup), beside a bare enumeration of the same
// folder plus one read of the history file; and how long the window takes
// to answer another thread while it reads them.  Not a test: it prints.
#include "Milliseconds.h"
#include "backupswindow/BackupsWindow.h"
#include "common/MonotonicClock.h"
#include "common/Text.h"
#include "mainwindow/Settings.h"
#include "support/Files.h"
#include "support/Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

// What the listing cannot do without: every name and time of the folder,
// and every byte of the history.
size_t BareEnumeration(const std::wstring& folder) {
    size_t seen = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    do ++seen;
    while (FindNextFileW(find, &found));
    FindClose(find);
    return seen;
}

size_t OneRead(const std::wstring& history) {
    size_t seen = 0;
    HANDLE file = CreateFileW(history.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    std::string chunk(1 << 20, '\0');
    DWORD read = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read) seen += read;
    CloseHandle(file);
    return seen;
}

struct Listing {
    double shown = 0;    // until Show returned: the window is up
    double listed = 0;   // until every backup is listed
    double longest = 0;  // the longest wait of another thread for an answer meanwhile
};

// The window's messages run until it has read everything, while another
// thread asks it for nothing (WM_NULL) every 10 ms.
Listing List(const std::wstring& history) {
    Listing listing;
    const auto start = MonotonicClock::now();
    BackupsWindow window(history, GetBackupFolders);
    window.Show();
    listing.shown = Since(start);
    std::atomic<bool> done{false};
    Thread asker([&, hwnd = window.hwnd()] {
        while (!done) {
            const auto asked = MonotonicClock::now();
            DWORD_PTR result = 0;
            SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
            listing.longest = std::max(listing.longest, Since(asked));
            Sleep(10);
        }
    });
    MSG msg;
    while (window.loading()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    listing.listed = Since(start);
    done = true;
    asker.join();
    return listing;
}

}  // namespace

// FOLDER holds the backups, planted by scripts/benchmark: Wine creates a
// file in a large folder in time that grows with the folder.
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: catalogue-benchmark FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    ScratchFolder scratch;
    const std::wstring history = scratch.file(L"Orvelle.txt");
    // A line per backup, as the runs that made them wrote.
    std::string lines;
    size_t backups = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    do {
        const std::wstring name = found.cFileName;
        if (const size_t stamp = name.find(L" Date "); stamp != std::wstring::npos && ++backups)
            lines += ToAnsi(name.substr(0, stamp) + L" was backup saved as " + folder + L"\\" + name +
                            L" at 12/5/2026 1:05:09 AM\r\n");
    } while (FindNextFileW(find, &found));
    FindClose(find);
    WriteFileBytes(history, lines);
    std::printf("%zu backups, history %.1f MB\n", backups, lines.size() / 1048576.0);

    // The listing reads the remembered folders too: this bench's only.
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders);
    double enumeration = 1e9, read = 1e9;
    Listing best{1e9, 1e9, 1e9};
    double worstWait = 0;
    for (int round = 0; round < 3; ++round) {
        enumeration = std::min(enumeration, MillisecondsOf([&] { BareEnumeration(folder); }));
        read = std::min(read, MillisecondsOf([&] { OneRead(history); }));
        const Listing listing = List(history);  // documents listed, the first one's backups too
        best = {std::min(best.shown, listing.shown), std::min(best.listed, listing.listed),
                std::min(best.longest, listing.longest)};
        worstWait = std::max(worstWait, listing.longest);
    }
    std::printf("listing the documents and the first one's backups: %8.0f ms\n", best.listed);
    std::printf("bare enumeration + one history read:               %8.0f ms (%.0f + %.0f)\n",
                enumeration + read, enumeration, read);
    std::printf("ratio: %.2f (target at most 2)\n", best.listed / (enumeration + read));
    std::printf("the window up after:                               %8.0f ms\n", best.shown);
    std::printf("longest wait for an answer while it reads:         %8.0f ms (min; max %.0f; target at most 100)\n",
                best.longest, worstWait);
    return 0;
}
