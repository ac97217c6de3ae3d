#include "engine/BackupName.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

TEST(GermanLocale, MonthNamesAndDesignatorsComeFromTheLocale) {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 7, t.wHour = 13, t.wMinute = 5, t.wSecond = 9;
    TestServices services;
    services.clock = [&t] { return t; };
    wchar_t pm[16] = {};
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_S2359, pm, 16);
    std::wstring designator = pm[0] ? pm : L"PM";  // a locale without designators gets PM
    EXPECT_EQ(BuildBackupName(L"C:\\W\\Bericht.docx", true, L".docx"),
              L"C:\\W\\Bericht.docx Date Dez 7 2026 Time 01 05 09 " + designator + L".docx");
    t.wMonth = 3;
    EXPECT_EQ(BuildBackupName(L"C:\\W\\Bericht.docx", false, L".docx"), L"C:\\W\\Bericht.docx M\u00e4r 7 2026.docx");
}

TEST(GermanLocale, PruningKnowsTheStampsOfTheLocale) {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 7, t.wHour = 13, t.wMinute = 5, t.wSecond = 9;
    TestServices services;
    services.clock = [t] { return t; };
    std::wstring name = BuildBackupName(L"Bericht.docx", true, L".docx");
    EXPECT_TRUE(IsStampedBackupOf(name, L"Bericht.docx")) << name;
    EXPECT_FALSE(IsStampedBackupOf(L"Bericht.docx Date Dec 7 2026 Time 01 05 09 PM.docx", L"Bericht.docx"));
}
