// The settings store in Wine's registry, under the real key.
#include "FormFixture.h"

#include "common/Failure.h"

TEST_F(FormTest, StoreRoundTripsTextUnderTheClassicKey) {
    EXPECT_FALSE(SettingsSnapshot::Read()) << "the fixture starts from an absent key";
    EXPECT_EQ(GetSetting(L"Path", L"fallback"), L"fallback");
    EXPECT_EQ(GetSetting(L"Backup Option"), L"");

    SaveSetting(L"Path", L"C:\\Users\\J\u00fcrgen\\Documents\\");  // creates the key
    SaveSetting(L"OftenIndex", L"7");
    SaveSetting(L"OftenIndex", L"8");
    EXPECT_EQ(GetSetting(L"Path", L"fallback"), L"C:\\Users\\J\u00fcrgen\\Documents\\");
    EXPECT_EQ(GetSetting(L"OftenIndex", L"3"), L"8");

    wchar_t data[64];
    DWORD size = sizeof data, type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Kelvane\\Orvelle", L"OftenIndex",
                           RRF_RT_ANY, &type, data, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(data, L"8");

    // A long value comes back whole; an empty one stays a value.
    std::wstring longText(3000, L'x');
    SaveSetting(L"Path", longText);
    EXPECT_EQ(GetSetting(L"Path"), longText);
    SaveSetting(L"Path", L"");
    EXPECT_EQ(GetSetting(L"Path", L"fallback"), L"");

    // A value that is not text reads as absent.
    DWORD number = 2;
    RegSetKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, L"WhereOption", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(GetSetting(L"WhereOption", L"1"), L"1");
}

TEST_F(FormTest, FoldersBackupsWentToAreRememberedExactlyMostRecentFirst) {
    Form1& f = Create();
    f.BackupSaved({L"C:\\docs\\\u65e5\u672c\\Report.docx Date Dec 7 2026 Time 01 05 09 PM.docx.protected"});
    RememberBackupFolder(L"D:\\Backups");
    f.BackupSaved({L"D:\\Backups\\A Date Dec 7 2026 Time 01 05 09 PM.docx"});  // first already: no write
    f.BackupSaved({L"c:\\DOCS\\\u65e5\u672c\\Notes Dec 7 2026.docx"});        // one folder, however spelled
    EXPECT_EQ(GetBackupFolders(), (std::vector<std::wstring>{L"c:\\DOCS\\\u65e5\u672c", L"D:\\Backups"}));
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders, RRF_RT_ANY, &type, nullptr,
                           nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));

    // Bounded: the oldest go.
    for (int i = 0; i < 310; ++i) RememberBackupFolder(L"E:\\" + std::to_wstring(i));
    const std::vector<std::wstring> folders = GetBackupFolders();
    ASSERT_EQ(folders.size(), settings::kMaxBackupFolders);
    EXPECT_EQ(folders.front(), L"E:\\309");
    EXPECT_EQ(folders.back(), L"E:\\10");

    SaveSetting(settings::kBackupFolders, L"C:\\not a list");
    EXPECT_TRUE(GetBackupFolders().empty());
}
