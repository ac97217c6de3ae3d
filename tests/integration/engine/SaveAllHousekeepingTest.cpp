// Housekeeping in a backup run: unchanged documents skipped, old stamped
// backups of the run's documents removed or thinned, room made for a backup.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "support/Files.h"

#include <algorithm>

TEST_F(SaveAllRun, AnUnchangedDocumentIsBackedUpOnceUntilItChanges) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    settings.skipUnchanged = true;
    // A second further at every read of the clock: every run has names of its own.
    static WORD second = 0;
    services.clock = [] {
        SYSTEMTIME t = Noon();
        t.wSecond = second++ % 60;
        return t;
    };
    for (int run = 0; run < 4; ++run) SaveAll(settings);
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_EQ(calls(L"Document.SaveAs"), 1);
    // A change is backed up again.
    {
        Dispatch app = Dispatch::GetActive(kWordProgId);
        app.get(L"Documents").toDispatch().call(L"Item", {1}).toDispatch().get(L"Range").toDispatch().put(L"Text", L"b");
    }
    SaveAll(settings);
    ASSERT_EQ(historyLines().size(), 2u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SaveAllRun, OnlyOldStampedBackupsThatTheJournalSaysAreTheRunsDocumentsAreRemovedOrThinned) {
    const std::wstring a = doc(L"A.txt", L"a");
    auto word = StandIn::StartUserWord({a});
    std::wstring elsewhere = backups + L"\\Elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    const std::wstring old = L"A.txt Date Dec 5 2026 Time 09 00 00 AM";
    // Minutes after a whole hour of UTC over two days ago: the same hour and
    // day on every wall clock.  -1: 12 hours ago.
    // Whose the journal says each is: A.txt's, another document's, or no one's.
    const std::wstring b = session.folder().file(L"B.txt"), otherA = L"C:\\Home\\A.txt";
    const struct {
        std::wstring path;
        int minute;
        bool removed, thinned;
        std::wstring owner;
    } files[] = {
        {backups + L"\\" + old + L".docx", 2, true, true, a},
        {backups + L"\\" + old + L" (2).docx", 1, true, true, a},
        {backups + L"\\" + old + L" (3).docm.protected", 3, true, false, a},  // any backup extension, protected too
        {backups + L"\\" + old + L" (4).docx", 4, false, false},              // from before the journal
        {backups + L"\\" + old + L" (5).docx", 5, false, false, otherA},      // another A.txt's, and newer
        {backups + L"\\" + old + L".docx.bak", 0, false, false, a},                     // the user's own
        {backups + L"\\B.txt Date Dec 5 2026 Time 09 00 00 AM.docx", 0, false, false, b},  // not a document of the run
        {elsewhere + L"\\" + old + L".docx", 0, false, false, a},                         // another folder
        {backups + L"\\A.txt Date Dec 6 2026 Time 09 00 00 PM.docx", -1, false, false, a},  // newer than a day
    };
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kMinute = 60ull * 10'000'000;
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    for (bool thin : {false, true}) {
        settings.keepDays = thin ? 0 : 1;
        settings.thin = thin;
        for (const auto& f : files) {
            WriteUtf8File(f.path, L"x");
            const std::uint64_t t =
                f.minute < 0 ? ticks - 720 * kMinute : (ticks / kMinute / 60 - 50) * 60 * kMinute + f.minute * kMinute;
            const FILETIME written{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
            UniqueHandle file(
                CreateFileW(f.path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &written));
            if (!f.owner.empty()) journalNames(f.path, f.owner);
        }
        SaveAll(settings);
        EXPECT_TRUE(reports.empty());
        for (const auto& f : files) EXPECT_EQ(PathExists(f.path), !(thin ? f.thinned : f.removed)) << ToUtf8(f.path);
        EXPECT_TRUE(PathExists(stamped(backups + L"\\A.txt")));
        EXPECT_EQ(historyLines().back(), thin ? L"Removed 2 backups by thinning at 12/7/2026 1:05:09 PM"
                                              : L"Removed 3 backups older than 1 day at 12/7/2026 1:05:09 PM");
    }
    EXPECT_EQ(historyLines().size(), 4u);
}

TEST_F(SaveAllRun, BackupsKeptForATimeMakeRoomOldestFirstNeverTheNewest) {
    const std::wstring a = doc(L"A.txt", L"a");
    auto word = StandIn::StartUserWord({a});
    settings.keepDays = 30;
    // 10 MB backups, oldest first: B's, then A's.
    std::vector<std::wstring> planted;
    for (const wchar_t* name : {L"B.txt Date Dec 1", L"A.txt Date Dec 2", L"A.txt Date Dec 3", L"A.txt Date Dec 4",
                                L"A.txt Date Dec 5"})
        planted.push_back(backups + L"\\" + name + L" 2026 Time 09 00 00 AM.docx");
    planted[2] += L".protected";  // counted like any other
    std::uint64_t base = 0;
    services.freeSpace = [&](const std::wstring&) {
        return base + (10ull << 20) * std::count_if(planted.begin(), planted.end(),
                                                    [](auto& p) { return !PathExists(p); });
    };
    // 1 MB and the three older A's would be too little: none goes.
    using Run = std::pair<std::uint64_t, size_t>;  // free space besides the planted backups, how many go
    for (const auto& [free, gone] : {Run{1 << 20, 0}, Run{15 << 20, 2}}) {
        base = free;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        for (size_t i = 0; i < planted.size(); ++i) {
            UniqueHandle file(CreateFileW(planted[i].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            const FILETIME written{now.dwLowDateTime, now.dwHighDateTime - 10 + static_cast<DWORD>(i)};  // ~7 min apart
            EXPECT_TRUE(SetFilePointerEx(file.get(), {.QuadPart = 10ll << 20}, nullptr, FILE_BEGIN) &&
                        SetEndOfFile(file.get()) && SetFileTime(file.get(), nullptr, nullptr, &written));
            file.reset();
            journalNames(planted[i], i == 0 ? session.folder().file(L"B.txt") : a);
        }
        SaveAll(settings);
        for (size_t i = 0; i < planted.size(); ++i) EXPECT_EQ(PathExists(planted[i]), i == 0 || i > gone) << i;
        EXPECT_EQ(PathExists(stamped(backups + L"\\A.txt")), gone > 0);
    }
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(historyLines().front(), L"Removed 2 backups to make room at 12/7/2026 1:05:09 PM");
}

TEST_F(SaveAllRun, TwoDocumentsOfOneNameEachKeepTheirNewestWhileOnlyOneStaysOpen) {
    const std::wstring work = session.folder().file(L"Work"), home = session.folder().file(L"Home");
    for (const std::wstring& folder : {work, home}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteUtf8File(folder + L"\\Report.docx", folder);
    }
    for (bool thin : {false, true}) {
        SCOPED_TRACE(thin ? "thinning" : "keep 1 day");
        settings.keepDays = thin ? 0 : 1;
        settings.thin = thin;
        services.clock = Noon;
        {
            auto both = StandIn::StartUserWord({work + L"\\Report.docx", home + L"\\Report.docx"});
            SaveAll(settings);
        }
        StandIn::KillAllStandIns();
        const std::wstring worksBackup = stamped(backups + L"\\Report.docx"),
                           homesBackup = worksBackup.substr(0, worksBackup.size() - 5) + L" (2).docx";
        ASSERT_TRUE(PathExists(worksBackup) && PathExists(homesBackup));
        // Three days old, Work's a minute older: on one day, unless the test
        // runs in the minute after midnight.
        for (const auto& [path, minutes] : {std::pair{worksBackup, 3 * 24 * 60 + 1}, std::pair{homesBackup, 3 * 24 * 60}})
            WriteAgedFile(path, minutes, ReadFileBytes(path));
        // Only Home's is open for days after.
        services.clock = [] { return SYSTEMTIME{2026, 12, 1, 7, 13, 30, 9, 0}; };
        auto homeOnly = StandIn::StartUserWord({home + L"\\Report.docx"});
        SaveAll(settings);
        EXPECT_TRUE(PathExists(worksBackup)) << "the newest of Work's Report.docx";
        EXPECT_EQ(PathExists(homesBackup), thin) << "Home's has a newer one";
        EXPECT_TRUE(PathExists(backups + L"\\Report.docx Date Dec 7 2026 Time 01 30 09 PM.docx"));
        EXPECT_TRUE(reports.empty());
        StandIn::KillAllStandIns();
        for (const std::wstring& name : FileNamesIn(backups)) DeleteFileW((backups + L"\\" + name).c_str());
    }
}
