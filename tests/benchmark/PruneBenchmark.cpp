// The pruning pass over a folder of 10,000 stamped backups of one document,
// beside one backup run of that document: what keeping backups for a time
// adds to a run.  Then how long the window waits for an answer during a run
// of ten documents whose backups and old backups another program holds,
// beside the same run with nothing held.  Not a test: it asserts nothing.
#include "Asker.h"
#include "Milliseconds.h"
#include "support/TestServices.h"
#include "engine/BackupName.h"
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

FILETIME HoursAgo(int hours) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER old{{now.dwLowDateTime, now.dwHighDateTime}};
    old.QuadPart -= hours * 3600ull * 10'000'000;
    return {old.LowPart, old.HighPart};
}

// Five backups of each document, two days old, in the journal as its own.
std::vector<std::wstring> PlantOld(const std::wstring& folder, const std::vector<std::wstring>& documents,
                                   BackupJournal& journal) {
    std::vector<std::wstring> old;
    const FILETIME written = HoursAgo(48);
    for (const std::wstring& document : documents) {
        const std::wstring name = document.substr(document.find_last_of(L'\\') + 1);
        for (int n = 1; n <= 5; ++n) {
            old.push_back(folder + L"\\" + name + L" Date Dec 3 2026 Time 0" + std::to_wstring(n) + L" 00 00 AM.docx");
            HANDLE h = CreateFileW(old.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            SetFileTime(h, nullptr, nullptr, &written);
            CloseHandle(h);
            journal.record({{document}, name, old.back(), 0, 0});
        }
    }
    return old;
}

// What another program does: opens each file for reading, sharing only reading.
std::vector<UniqueFile> Hold(const std::vector<std::wstring>& files) {
    std::vector<UniqueFile> held;
    for (const std::wstring& file : files)
        held.emplace_back(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return held;
}

void HeldFilesDuringARun(TestServices& services) {
    StandIn::Session session;
    Settings settings;
    settings.folder = session.folder().path() + L"\\Held";
    settings.history = session.folder().file(L"held-history.txt");
    settings.journal = session.folder().file(L"held.journal");
    CreateDirectoryW(settings.folder.c_str(), nullptr);
    std::vector<std::wstring> documents;
    for (int n = 1; n <= 10; ++n)
        documents.push_back(session.folder().write(L"Held " + std::to_wstring(n) + L".txt", L"text"));
    auto word = StandIn::StartUserWord(documents);
    // One stamp for both runs: the second claims the backups the first wrote.
    const SYSTEMTIME now = Services().LocalNow();
    services.clock = [now] { return now; };
    BackupJournal journal(settings.journal);
    const BackupOptions options{.fixedFolder = settings.folder,
                                .historyFile = settings.history,
                                .journalFile = settings.journal,
                                .owner = settings.owner,
                                .keepBackupsDays = 1};
    auto run = [&](const char* what, const std::vector<std::wstring>& held) {
        std::vector<UniqueFile> handles = Hold(held);
        Asker asker(settings.owner);
        const double took = MillisecondsOf([&] { settings.run.SaveAll(options, settings); });
        std::printf("  %-40s longest wait %5.0f ms, run %6.0f ms\n", what, asker.longest.load(), took);
        return asker.longest.load();
    };
    std::printf("the window's answer during a run of ten documents, their old backups pruned (target 100 ms):\n");
    PlantOld(settings.folder, documents, journal);
    run("nothing held:", {});
    std::vector<std::wstring> held = PlantOld(settings.folder, documents, journal);
    for (const std::wstring& document : documents) {
        const std::wstring name = document.substr(document.find_last_of(L'\\') + 1);
        held.push_back(BackupPathFor(settings.folder, name, true, L".docx"));
    }
    run("ten backups and 50 old ones held:", held);
    services.clock = nullptr;
}

void PruneTenThousand() {
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
    const FILETIME written = HoursAgo(48);
    for (const auto& file : files) {
        HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(h, nullptr, nullptr, &written);
        CloseHandle(h);
    }
    prune("10,000 backups, all old:");
}

}  // namespace

int wmain() {
    ComApartment com;
    TestServices services;
    services.boxes = [](const MessageBoxRequest&) { return IDOK; };
    PruneTenThousand();
    HeldFilesDuringARun(services);
    return 0;
}
