// The pruning pass over a folder of 10,000 stamped backups of one document,
// beside one backup run of that document: what keeping backups for a time
// adds to a run.  Not a test: it asserts nothing and prints three lines.
#include "Milliseconds.h"
#include "support/TestServices.h"
#include "engine/Housekeeping.h"
#include "engine/SaveWord.h"
#include "FixedFolderSettings.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Settings = FixedFolderSettings;

}  // namespace

int wmain() {
    ComApartment com;
    TestServices services;
    services.boxes = [](const MessageBoxRequest&) { return IDOK; };
    StandIn::Session session;
    Settings settings;
    settings.folder = session.folder().path() + L"\\Backups";
    settings.history = session.folder().file(L"history.txt");
    settings.journal = session.folder().file(L"Backups.journal");
    CreateDirectoryW(settings.folder.c_str(), nullptr);

    // 10,000 backups of Report.txt: ten a minute over 17 hours.
    std::vector<std::wstring> files;
    for (int n = 0; n < 10000; ++n) {
        wchar_t name[128];
        swprintf(name, 128, L"\\Report.txt Date Dec 5 2026 Time %02d %02d %02d AM%ls.docx", n / 600 % 12 + 1,
                 n / 10 % 60, n % 10 * 6, n < 7200 ? L"" : L" (2)");
        files.push_back(settings.folder + name);
        CloseHandle(CreateFileW(files.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    const std::wstring report = session.folder().write(L"Report.txt", L"report");
    // The backups are the document's: the journal names them.
    BackupJournal journal(settings.journal);
    for (const auto& file : files) journal.record({{report}, L"Report.txt", file, 0, 0});
    auto word = StandIn::StartUserWord({report});
    const double run = MillisecondsOf([&] { SaveAll(settings); });
    auto prune = [&](const char* what) {
        int removed = 0;
        double ms = MillisecondsOf(
            [&] { removed = PruneBackups(journal, {settings.folder, L"Report.txt", {report}}, std::chrono::hours(24)); });
        std::printf("pruning, %-28s %8.0f ms (%d removed)\n", what, ms, removed);
    };
    std::printf("one backup run of one document:       %8.0f ms\n", run);
    // The usual case: the folder is read, nothing is old enough.
    prune("10,000 backups, none old:");
    // Then all of them two days old: the one pass that removes them.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER old{{now.dwLowDateTime, now.dwHighDateTime}};
    old.QuadPart -= 48ull * 3600 * 10'000'000;
    const FILETIME written{old.LowPart, old.HighPart};
    for (const auto& file : files) {
        HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(h, nullptr, nullptr, &written);
        CloseHandle(h);
    }
    prune("10,000 backups, all old:");
    return 0;
}
