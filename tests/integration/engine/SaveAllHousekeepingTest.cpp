// Housekeeping in a backup run: unchanged documents skipped, old stamped
// backups of the run's documents removed.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "support/Files.h"

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

TEST_F(SaveAllRun, OnlyOldStampedBackupsOfTheRunsDocumentsInItsFoldersAreRemoved) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    settings.keepDays = 1;
    std::wstring elsewhere = backups + L"\\Elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    const std::wstring old = L"A.txt Date Dec 5 2026 Time 09 00 00 AM";
    const struct {
        std::wstring path;
        bool removed;
    } files[] = {
        {backups + L"\\" + old + L".docx", true},
        {backups + L"\\" + old + L" (2).docx", true},
        {backups + L"\\" + old + L".docx.bak", false},                           // the user's own
        {backups + L"\\B.txt Date Dec 5 2026 Time 09 00 00 AM.docx", false},      // not a document of the run
        {elsewhere + L"\\" + old + L".docx", false},                              // another folder
        {backups + L"\\A.txt Date Dec 6 2026 Time 09 00 00 PM.docx", false},       // newer than a day
    };
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (const auto& f : files) {
        WriteUtf8File(f.path, L"x");
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        const bool recent = f.path.find(L"Dec 6") != std::wstring::npos;
        t.QuadPart -= (recent ? 12ull : 48ull) * 3600 * 10'000'000;
        FILETIME written{t.LowPart, t.HighPart};
        UniqueHandle file(CreateFileW(f.path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &written));
    }
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    for (const auto& f : files) EXPECT_EQ(PathExists(f.path), !f.removed) << ToUtf8(f.path);
    EXPECT_TRUE(PathExists(stamped(backups + L"\\A.txt")));
    auto lines = historyLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"Removed 2 backups older than 1 day at 12/7/2026 1:05:09 PM");
}
