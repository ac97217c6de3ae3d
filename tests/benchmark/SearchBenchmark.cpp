// The Backups window's search and preview over backups planted by
// tests/benchmark/plant-search-backups.py: a search of every backup of a
// document the first time (each package read), again with other words (the
// texts kept), how long another thread waits for the window to answer
// meanwhile, and the preview of a backup against the next one (200 words
// changed in 50,000) with the same wait; with --memory, private memory
// around "All documents" searches of 200 backups of a 500,000-word document.
// Not a test: it prints.
#include "Asker.h"
#include "Milliseconds.h"
#include "PumpUntil.h"
#include "backupswindow/BackupsWindow.h"
#include "common/Handle.h"
#include "common/MonotonicClock.h"
#include "mainwindow/Settings.h"
#include "support/ComApartment.h"
#include "support/Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwctype>
#include <string>

namespace {

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

// The preview of row 1 (against the newest: 200 words changed), made off the
// window's thread: how long until it shows, and the longest wait for the
// window's answer meanwhile.
void Preview(BackupsWindow& window, const char* what) {
    Asker asker(window.hwnd());
    const auto start = MonotonicClock::now();
    window.SelectBackup(1);
    Pump([&] { return !window.previewing(); });
    std::printf("  %-34s %6.0f ms (target 150), longest wait for an answer %3.0f ms (target 100)\n", what,
                Since(start), asker.longest.load());
}

// The Linux process that runs this one: the one whose command line names
// this program with --memory.  Z:\\proc\\self is not this process under Wine
// (measured: the server resolves the link), and Wine 8 answers a
// PrivateUsage of 0.
std::wstring UnixStatus() {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(L"Z:\\proc\\*", &found));
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &found)) {
        if (!iswdigit(found.cFileName[0])) continue;
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
        FILE* file = _wfopen((folder + L"\\cmdline").c_str(), L"rb");
        if (!file) continue;
        std::string command(4096, '\0');
        command.resize(std::fread(command.data(), 1, command.size(), file));
        std::fclose(file);
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.find("search-benchmark.exe") != std::string::npos && command.find("--memory") != std::string::npos &&
            command.find("wine-run") == std::string::npos)
            return folder + L"\\status";
    }
    return {};
}

// RssAnon + VmSwap of that process: its private memory.
double PrivateMegabytes() {
    static const std::wstring status = UnixStatus();
    unsigned long long bytes = 0;
    if (FILE* file = _wfopen(status.c_str(), L"r")) {
        char line[256];
        unsigned long kb;
        while (std::fgets(line, sizeof line, file))
            if (std::sscanf(line, "RssAnon: %lu", &kb) == 1 || std::sscanf(line, "VmSwap: %lu", &kb) == 1)
                bytes += kb * 1024ull;
        std::fclose(file);
    }
    return bytes / 1048576.0;
}

// "All documents" searches over the backups of a long document (planted by
// plant-search-backups.py --memory): private memory idle, after the
// searches, and once the window is closed.
int Memory(const wchar_t* folder) {
    ComApartment com;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders);
    RememberBackupFolder(folder);
    const std::wstring noHistory = std::wstring(folder) + L"\\Orvelle.txt";
    BackupsWindow window(noHistory, GetBackupFolders, noHistory + L".journal");
    const double idle = PrivateMegabytes();
    window.Show();
    Pump([&] { return !window.loading(); });
    double most = 0, after = 0;
    for (const wchar_t* words : {L"lighthouse keeper", L"ocean wave"}) {
        const auto start = MonotonicClock::now();
        window.Search(words, true);
        Pump([&] {
            most = std::max(most, PrivateMegabytes());
            return !window.searching();
        });
        after = PrivateMegabytes();
        std::printf("  all documents, %d backups searched   %6.0f ms\n", static_cast<int>(window.backupRows()),
                    Since(start));
    }
    SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
    const auto settled = MonotonicClock::now() + std::chrono::seconds(1);
    Pump([&] { return MonotonicClock::now() > settled; });
    const double closed = PrivateMegabytes();
    std::printf("  private memory: idle %.0f MB, at most %.0f MB while searching, after the searches %.0f MB (target "
                "512), closed %.0f MB = %.2f x idle (target 1.5)\n", idle, most, after, closed, closed / idle);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && argv[1] == std::wstring(L"--memory")) return Memory(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: search-benchmark [--memory] FOLDER\n");
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
            if (name == std::wstring(L"Book.docx")) Preview(window, "preview, texts not read yet");
            Searched(window, L"lighthouse keeper", "first search");
            Searched(window, L"ocean wave", "again, other words");
        }
        window.Search(L"", false);
        window.SelectDocument(Row(window, L"Book.docx"));
        window.SelectBackup(0);
        Pump([&] { return !window.previewing(); });
        Preview(window, "preview of Book, texts read");
    }
    return 0;
}
