#include "common/Failure.h"
#include "engine/Housekeeping.h"
#include "engine/Intervals.h"
#include "engine/WordProbes.h"
#include "support/TestServices.h"
#include "engine/Thinning.h"

#include <gtest/gtest.h>

namespace {

SYSTEMTIME At(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME t{};
    t.wYear = year, t.wMonth = month, t.wDay = day, t.wHour = hour, t.wMinute = minute, t.wSecond = second;
    return t;
}

class FixedClock : public ::testing::Test {
protected:
    void at(SYSTEMTIME t) {
        services.clock = [t] { return t; };
    }
    TestServices services;
};

}  // namespace

TEST_F(FixedClock, WorkedExamplesUnderUsEnglish) {
    at(At(2026, 12, 7, 13, 5, 9));
    EXPECT_EQ(BuildBackupName(L"C:\\Work\\Report.docx", true, L".docx"),
              L"C:\\Work\\Report.docx Date Dec 7 2026 Time 01 05 09 PM.docx");
    EXPECT_EQ(BuildBackupName(L"C:\\Work\\Report.docx", false, L".docx"), L"C:\\Work\\Report.docx Dec 7 2026.docx");

    at(At(2027, 3, 1, 9, 4, 3));
    EXPECT_EQ(BuildBackupName(L"D:\\Backup\\Document2", true, L".docx"),
              L"D:\\Backup\\Document2 Date Mar 1 2027 Time 09 04 03 AM.docx");

    at(At(2026, 12, 8, 0, 15, 0));  // midnight hour is 12 AM
    EXPECT_EQ(BuildBackupName(L"C:\\Work\\Notes.doc", true, L".doc"),
              L"C:\\Work\\Notes.doc Date Dec 8 2026 Time 12 15 00 AM.doc");

    at(At(2026, 12, 8, 17, 40, 10));
    EXPECT_EQ(BuildBackupName(L"C:\\Work\\Notes.doc", false, L".docx"), L"C:\\Work\\Notes.doc Dec 8 2026.docx");

    at(At(2026, 6, 30, 12, 0, 0));  // noon is 12 PM
    EXPECT_EQ(BuildBackupName(L"x", true, L".docx"), L"x Date Jun 30 2026 Time 12 00 00 PM.docx");
}

TEST_F(FixedClock, OverwriteModeGivesOneNamePerDay) {
    at(At(2026, 12, 7, 8, 0, 0));
    std::wstring morning = BuildBackupName(L"C:\\W\\a.docx", false, L".docx");
    at(At(2026, 12, 7, 23, 59, 59));
    EXPECT_EQ(BuildBackupName(L"C:\\W\\a.docx", false, L".docx"), morning);
    at(At(2026, 12, 8, 0, 0, 0));
    EXPECT_NE(BuildBackupName(L"C:\\W\\a.docx", false, L".docx"), morning);
}

TEST_F(FixedClock, HistoryDateIsShortDateBlankLongTime) {
    EXPECT_EQ(GeneralDate(At(2026, 12, 7, 13, 5, 9)), L"12/7/2026 1:05:09 PM");
    // Midnight still shows its time.
    EXPECT_EQ(GeneralDate(At(2026, 12, 8, 0, 0, 0)), L"12/8/2026 12:00:00 AM");
}

TEST(Intervals, TextsMapToSecondsAndNothingElseMatches) {
    EXPECT_EQ(std::size(kIntervals), 10u);
    EXPECT_EQ(GetIntervalSeconds(L"Save every 30 seconds"), 30);
    EXPECT_EQ(GetIntervalSeconds(L"Save every 5 minutes"), 300);
    EXPECT_EQ(GetIntervalSeconds(L"Save every hour"), 3600);
    EXPECT_EQ(GetIntervalSeconds(L"Save every 24 hours"), 86400);
    EXPECT_EQ(GetIntervalSeconds(L"save every hour"), 0);  // exact, case-sensitive
    EXPECT_EQ(GetIntervalSeconds(L""), 0);
    EXPECT_THROW(GetIntervalSeconds(std::nullopt), Failure);
}

TEST(DocExtension, AboveElevenIsDocx) {
    EXPECT_EQ(DocExtensionFor(16), L".docx");
    EXPECT_EQ(DocExtensionFor(12), L".docx");
    EXPECT_EQ(DocExtensionFor(11), L".doc");
    EXPECT_EQ(DocExtensionFor(0), L".doc");
}

TEST(BackupNames, AnyDocumentNameBecomesAValidFileNamePart) {
    const struct {
        const wchar_t* document;
        const wchar_t* safe;
    } cases[] = {
        {L"Report.docx", L"Report.docx"},
        {L"Q3: plan? <draft> a/b\\c|d*\"e\"", L"Q3_ plan_ _draft_ a_b_c_d__e_"},
        {L"tab\there\x01", L"tab_here_"},
        {L"Notes. ", L"Notes__"},
        {L"CON", L"CON_"},
        {L"con.txt", L"con_.txt"},
        {L"COM1.docx", L"COM1_.docx"},
        {L"LPT9", L"LPT9_"},
        {L"CONTRACT.docx", L"CONTRACT.docx"},
        {L"COM10", L"COM10"},
        {L"", L"_"},
    };
    for (const auto& c : cases) EXPECT_EQ(FileNameSafe(c.document), c.safe) << c.document;
}

TEST_F(FixedClock, ALongDocumentNameIsShortenedSoThePathFits) {
    at(At(2026, 12, 7, 13, 5, 9));
    const std::wstring folder = L"C:\\" + std::wstring(100, L'f');
    const std::wstring path = BackupPathFor(folder, std::wstring(300, L'x') + L".docx", true, L".docx");
    EXPECT_LE(path.size() + 8, kMaxBackupPath);  // room for a " (n)"
    EXPECT_EQ(path.find(folder + L"\\xxxx"), 0u);
    EXPECT_TRUE(path.ends_with(L" Date Dec 7 2026 Time 01 05 09 PM.docx")) << path;
    // A short one is left alone, and a folder too long for any name is left to fail.
    EXPECT_EQ(BackupPathFor(L"D:\\B\\", L"a.txt", false, L".doc"), L"D:\\B\\a.txt Dec 7 2026.doc");
    const std::wstring deep = L"C:\\" + std::wstring(300, L'f');
    EXPECT_EQ(BackupPathFor(deep, L"a", false, L".doc"), deep + L"\\a Dec 7 2026.doc");
}

TEST(BackupNames, OneRuleTellsWhichNamesAreBackupsOfWhichDocument) {
    const std::wstring stamp = L"Report.docx Date Dec 7 2026 Time 01 05 09 PM";
    const StampRule rule;
    // stem | number | day | extension | protected; an empty stem: not a backup name.
    const struct {
        std::wstring name;
        const wchar_t* stem;
        int number = 0;
        bool day = false;
        const wchar_t* extension = L".docx";
        bool isProtected = false;
    } cases[] = {
        {stamp + L".docx", L"Report.docx"},
        {stamp + L".doc", L"Report.docx", 0, false, L".doc"},
        {stamp + L".docm", L"Report.docx", 0, false, L".docm"},
        {stamp + L".dotx", L"Report.docx", 0, false, L".dotx"},
        {stamp + L".dotm", L"Report.docx", 0, false, L".dotm"},
        {stamp + L".docx.protected", L"Report.docx", 0, false, L".docx", true},
        {stamp + L".doc.protected", L"Report.docx", 0, false, L".doc", true},
        {stamp + L".dotm.protected", L"Report.docx", 0, false, L".dotm", true},
        {L"Report.docx Date Dec 8 2026 Time 10 15 00 AM (2).docm.protected", L"Report.docx", 2, false, L".docm", true},
        {L"Report.docx Dec 7 2026.docx", L"Report.docx", 0, true},  // overwrite mode
        {L"Report.docx Dec 7 2026 (2).dotx.protected", L"Report.docx", 2, true, L".dotx", true},
        {L"Due Date Dec 7 2026.docx", L"Due Date", 0, true},  // " Date " without a time is a name
        {L"A Dec 1 2026 Date Dec 7 2026 Time 01 05 09 PM.doc", L"A Dec 1 2026", 0, false, L".doc"},
        // Not backups: the user's own files and near misses.
        {L"Report.docx", L""},
        {stamp + L".docx.bak", L""},
        {stamp + L".protected", L""},
        {stamp + L".docx.protected.docx", L""},
        {stamp + L".DOCX", L""},
        {L"Report.docx Date Dec 7 2026 Time 1 05 09 PM.docx", L""},
        {L"Report.docx Date Dek 7 2026 Time 01 05 09 PM.docx", L""},
        {stamp + L" (x).docx", L""},
    };
    for (const auto& c : cases) {
        const auto parts = rule.parse(c.name);
        ASSERT_EQ(parts.has_value(), *c.stem != 0) << c.name;
        if (!parts) continue;
        EXPECT_EQ(parts->stem, c.stem) << c.name;
        EXPECT_EQ(parts->number, c.number) << c.name;
        EXPECT_EQ(parts->dayStamped, c.day) << c.name;
        EXPECT_EQ(parts->extension, c.extension) << c.name;
        EXPECT_EQ(parts->isProtected, c.isProtected) << c.name;
        // Pruning takes new-file names of that document only.
        EXPECT_EQ(IsStampedBackupOf(c.name, L"Report.docx"), !c.day && c.stem == std::wstring(L"Report.docx")) << c.name;
    }
}

TEST(Housekeeping, RtfWithoutWhatChangesAtEveryCopyButWithItsFormatting) {
    const std::string a = "{\\rtf1{\\info{\\creatim\\yr2026\\min5}}{\\*\\rsidtbl \\rsid123\\rsid456}\\b\\insrsid123 x\\par}";
    const std::string b = "{\\rtf1{\\info{\\creatim\\yr2027\\min9}}{\\*\\rsidtbl \\rsid789}\\b\\insrsid789 x\\par}";
    EXPECT_EQ(StableRtf(a), StableRtf(b));
    EXPECT_EQ(StableRtf(a), "{\\rtf1\\b x\\par}");
    EXPECT_NE(StableRtf(a), StableRtf("{\\rtf1\\i x\\par}"));  // a change of formatting alone counts
    EXPECT_EQ(StableRtf("{\\rtf1 \\{\\info\\} x}"), "{\\rtf1 \\{\\info\\} x}");  // escaped braces are text
}

TEST(Housekeeping, ABackupLeavesTwiceTheDocumentAnd32MBFree) {
    EXPECT_EQ(RequiredFreeSpace(0), 32ull << 20);
    EXPECT_EQ(RequiredFreeSpace(10ull << 20), 62ull << 20);
}

TEST(Housekeeping, ThinningKeepsTheNewestOfEachLocalHourDayAndWeek) {
    // Eastern time: on 1 Nov 2026 at 06:00 UTC the clocks go back from 2:00 to 1:00.
    const TIME_ZONE_INFORMATION zone{300, {}, {0, 11, 0, 1, 2, 0, 0, 0}, 0, {}, {0, 3, 0, 2, 2, 0, 0, 0}, -60};
    auto ticks = [](SYSTEMTIME utc) {
        FILETIME t;
        SystemTimeToFileTime(&utc, &t);
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    const struct {
        SYSTEMTIME utc;
        std::uint64_t size;
        bool kept;
    } cases[] = {
        {At(2026, 11, 3, 9, 0, 0), 100, true},  // dated after now
        {At(2026, 11, 2, 10, 10, 0), 100, true},                                           // within 2 hours
        {At(2026, 11, 2, 9, 50, 0), 100, true},  {At(2026, 11, 2, 9, 10, 0), 100, false},  // one hour
        {At(2026, 11, 1, 6, 40, 0), 100, true},  {At(2026, 11, 1, 6, 20, 0), 100, false},  // 1:xx twice:
        {At(2026, 11, 1, 5, 40, 0), 100, true},  {At(2026, 11, 1, 5, 20, 0), 100, false},  // two hours
        {At(2026, 10, 21, 3, 30, 0), 100, true}, {At(2026, 10, 20, 20, 0, 0), 100, false},  // one local day
        {At(2026, 9, 21, 3, 0, 0), 100, true},   {At(2026, 9, 18, 12, 0, 0), 100, false},  // one local week
        {At(2026, 9, 9, 12, 0, 0), 100, true},   {At(2026, 9, 8, 12, 0, 0), 1000, true},   // before a shrink
        {At(2026, 9, 7, 12, 0, 0), 1000, false},
    };
    std::vector<AgedBackup> backups;
    for (const auto& c : cases) backups.push_back({ticks(c.utc), c.size});
    const std::uint64_t now = ticks(At(2026, 11, 2, 12, 0, 0));
    const std::vector<bool> kept = ThinningKeeps(backups, now, zone);
    std::vector<AgedBackup> left;
    for (size_t i = 0; i < backups.size(); ++i) {
        EXPECT_EQ(kept[i], cases[i].kept) << i;
        if (kept[i]) left.push_back(backups[i]);
    }
    EXPECT_EQ(ThinningKeeps(left, now, zone), std::vector<bool>(left.size(), true)) << "a second pass";
}
