// The Backups window's search and preview over backups planted by
// tests/benchmark/plant-search-backups.py: a search of every backup of a
// document the first time (each package read), again with other words (the
// texts kept), how long another thread waits for the window to answer
// meanwhile, and the preview of a backup against the next one (200 words
// changed in 50,000).  Not a test: it prints.
#include "Asker.h"
#include "Milliseconds.h"
#include "backupswindow/BackupsWindow.h"
#include "common/MonotonicClock.h"
#include "mainwindow/Settings.h"
#include "support/ComApartment.h"
#include "support/Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

void Pump(const std::function<bool()>& until) {
    MSG msg;
    while (!until()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void Searched(BackupsWindow& window, const wchar_t* words, const char* what) {
    Asker asker(window.hwnd());
    const auto start = MonotonicClock::now();
    window.Search(words, false);
    Pump([&] { return !window.searching(); });
    const double took = Since(start);
    std::printf("  %-34s %6.0f ms (target %s), %d found, longest wait for an answer %3.0f ms (target 100)\n", what,
                took, what[0] == 'f' ? "2000" : "200", window.backupRows(), asker.longest.load());
}

int Row(const BackupsWindow& window, const std::wstring& name) {
    for (int row = 0; row < window.documentRows(); ++row)
        if (window.documentText(row, 0) == name) return row;
    return -1;
}

double Preview(BackupsWindow& window) {
    const auto start = MonotonicClock::now();
    window.SelectBackup(1);  // against the newest: 200 words changed
    return Since(start);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: search-benchmark FOLDER\n");
        return 2;
    }
    ComApartment com;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders);
    RememberBackupFolder(argv[1]);
    const std::wstring noHistory = std::wstring(argv[1]) + L"\\Orvelle.txt";
    for (int round = 1; round <= 2; ++round) {
        std::printf("round %d\n", round);
        BackupsWindow window(noHistory, GetBackupFolders);
        window.Show();
        Pump([&] { return !window.loading(); });
        for (const wchar_t* name : {L"Book.docx", L"Letter.docx"}) {
            window.Search(L"", false);
            window.SelectDocument(Row(window, name));
            std::printf(" %ls, %d backups:\n", name, window.backupRows());
            if (name == std::wstring(L"Book.docx"))
                std::printf("  %-34s %6.0f ms\n", "preview, texts not read yet", Preview(window));
            Searched(window, L"lighthouse keeper", "first search");
            Searched(window, L"ocean wave", "again, other words");
        }
        window.Search(L"", false);
        window.SelectDocument(Row(window, L"Book.docx"));
        window.SelectBackup(0);
        std::printf("  %-34s %6.0f ms (target 150)\n", "preview of Book, texts read", Preview(window));
    }
    return 0;
}
