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
