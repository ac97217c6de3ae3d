// The settings store and the policies in Wine's registry, under the real keys.
#include "FormFixture.h"

#include "common/Failure.h"
#include "common/Text.h"
#include "mainwindow/Policies.h"
#include "support/Registry.h"

#include <functional>

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

namespace {

// The policy keys of the machine and the user, empty before and after.
struct PolicyKeys {
    PolicyKeys() { Clear(); }
    ~PolicyKeys() { Clear(); }
    static void Clear() {
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) reg::DeleteTree(hive, policy::kKeyPath);
    }
};

}  // namespace

// Each policy as an administrator types it (any case, blanks), over a user's
// own choice: the control shows it greyed, a run uses it, the user's store
// keeps the user's choice.  The machine's policy wins when it means
// something; one that means nothing is passed over, down to the user's own
// setting, read exactly as ever.
TEST_F(FormTest, PoliciesWinShowGreyedReachTheRunAndAreNeverStored) {
    PolicyKeys keys;
    using Used = std::function<bool(Form1&, const BackupOptions&)>;
    const struct Case {
        const wchar_t *name, *machine, *user, *users;
        Used used;
        std::vector<int> controls;
        bool greyed = true;
    } cases[] = {
        {L"Path", L"D:\\Managed\\", nullptr, L"C:\\Mine\\",
         [](Form1& f, auto& o) { return f.Text1.text() == L"D:\\Managed\\" && o.fixedFolder == f.Text1.text(); },
         {ids::Text1, ids::PushButton1}},
        {L"WhereOption", nullptr, L" 2 ", L"1",
         [](Form1& f, auto& o) { return f.Option2.value() && o.saveBesideDocuments; }, {ids::Option1, ids::Option2}},
        {L"OftenIndex", L"10", nullptr, L"2",
         [](Form1& f, auto&) { return f.ListView1.selectedIndex() == 9; }, {ids::ListView1}},
        {L"BackupSwitch", nullptr, L"off", L"On",
         [](Form1& f, auto&) { return !f.Timer1.running() && f.PushButton4.caption() == L"Turn On Backup Save"; },
         {ids::PushButton4}},
        {L"Backup Option", L"2", nullptr, L"1", [](Form1& f, auto& o) { return f.Option4.value() && !o.createNewFile; },
         {ids::Option3, ids::Option4}},
        // A managed start entry is made at start, as the click would make it.
        {L"Windows Startup", L"ON", nullptr, L"Off",
         [this](Form1& f, auto&) { return f.Check5.value() && rec.addToStartup == 1; }, {ids::Check5}},
        {L"Minimized", nullptr, L"on", L"Off", [](Form1& f, auto&) { return f.Check8.value() && f.MinimizedToTray; },
         {ids::Check8}},
        {L"Keep Backups", nullptr, L"THIN", L"7",
         [](Form1& f, auto& o) { return f.Combo1.selectedIndex() == 4 && o.thinBackups; }, {ids::Combo1}},
        {L"Clipboard Copy", L"on", nullptr, L"Off",
         [](Form1& f, auto& o) { return f.Check10.value() && o.clipboardCopy; }, {ids::Check10}},
        {L"Closed Unsaved", nullptr, L"OFF", L"On", [](Form1& f, auto&) { return !f.Check11.value(); }, {ids::Check11}},
        {L"Skip Unchanged", L"Off", L"On", L"on",
         [](Form1& f, auto& o) { return !f.Check9.value() && !o.skipUnchanged; }, {ids::Check9}},
        {L"Skip Unchanged", L"maybe", L"On", L"Off",
         [](Form1& f, auto& o) { return f.Check9.value() && o.skipUnchanged; }, {ids::Check9}},
        {L"Skip Unchanged", L"", L"  ", L"on", [](Form1& f, auto&) { return !f.Check9.value(); }, {ids::Check9}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name) + " " + ToUtf8(c.machine ? c.machine : L"-"));
        SettingsSnapshot::Clear();
        PolicyKeys::Clear();
        rec = {};
        SaveSetting(c.name, c.users);
        if (c.machine) reg::SetString(HKEY_LOCAL_MACHINE, policy::kKeyPath, c.name, c.machine);
        if (c.user) reg::SetString(HKEY_CURRENT_USER, policy::kKeyPath, c.name, c.user);
        BackupOptions options;
        FormServices s = Services();
        s.saveAll = [&](const BackupOptions& o, RunHost&) { return options = o, RunOutcome::Done; };
        Form1& f = Load(s);
        f.PushButton2_Click();
        EXPECT_TRUE(c.used(f, options));
        for (int id : c.controls) EXPECT_EQ(IsWindowEnabled(f.ControlById(id)->hwnd()), !c.greyed) << id;
        EXPECT_EQ(SettingsSnapshot::Texts()[c.name], c.users);
        form.reset();
    }
}
