// The Backups window's search of "All documents" over a folder that holds a
// planted zip bomb named like a backup (tests/benchmark/plant-zip-bomb.py:
// 900 MB of zeros in a file of about 1 MB), beside the same search over the
// folder without it: the time and the highest private memory of each, each
// search in a process of its own.  Not a test: it prints.
#include "Milliseconds.h"
#include "PrivateMemory.h"
#include "PumpUntil.h"
#include "backupswindow/BackupsWindow.h"
#include "common/Text.h"
#include "mainwindow/Settings.h"
#include "support/ComApartment.h"

#include <cstdio>
#include <string>

namespace {

// As a process of its own: the window on folder, then one search of every document's backups.
int Search(const std::wstring& folder, const wchar_t* token) {
    FindOwnLinuxProcess(ToUtf8(token));
    ComApartment com;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders);
    RememberBackupFolder(folder);
    BackupsWindow window(folder + L"\\Orvelle.txt", GetBackupFolders, folder + L"\\Backups.journal");
    window.Show();
    Pump([&] { return !window.loading(); });
    const double before = PrivateMiB();
    PeakPrivateMemory peak;
    const auto start = MonotonicClock::now();
    window.Search(L"lighthouse keeper", true);
    Pump([&] { return !window.searching(); });
    const double took = Since(start), highest = peak.stop();
    std::printf("%.0f %.2f %.2f %d %s\n", took, highest - before, before, window.backupRows(),
                ToUtf8(window.statusText()).c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--search") return Search(argv[2], argv[3]);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zipbomb-benchmark NORMAL-FOLDER BOMB-FOLDER\n");
        return 2;
    }
    std::printf("the Backups window's search of all documents, min / max of 3 "
                "(targets with the bomb: 1000 ms, 64 MiB):\n");
    for (int folder = 1; folder <= 2; ++folder) {
        double ms[2] = {1e9, 0}, mib[2] = {1e9, 0}, idle = 0;
        int found = 0;
        char status[256] = "";
        for (int round = 0; round < 3; ++round) {
            const std::string out = OutputOfOwnRun(L"--search \"" + std::wstring(argv[folder]) + L"\"");
            double took = 0, grew = 0;
            std::sscanf(out.c_str(), "%lf %lf %lf %d %255[^\n]", &took, &grew, &idle, &found, status);
            ms[0] = std::min(ms[0], took), ms[1] = std::max(ms[1], took);
            mib[0] = std::min(mib[0], grew), mib[1] = std::max(mib[1], grew);
        }
        std::printf("  %-30s %5.0f / %5.0f ms, private memory at most %5.1f / %5.1f MiB above the %.1f MiB before;"
                    " %d rows, \"%s\"\n",
                    folder == 1 ? "a normal backup:" : "the same and a zip bomb:", ms[0], ms[1], mib[0], mib[1], idle,
                    found, status);
    }
    return 0;
}
