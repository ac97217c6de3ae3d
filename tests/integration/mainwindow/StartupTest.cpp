// Form_Load: the first run, stored and malformed settings, a second instance
// and a missing Word.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Main.h"
#include "common/Product.h"
#include "mainwindow/Policies.h"
#include "support/Registry.h"
#include "support/WindowLookup.h"

#include <shlobj.h>

#include <map>

TEST_F(FormTest, FirstRunOnACleanStore) {
    Form1& f = Load();
    EXPECT_TRUE(IsWindowVisible(f.hwnd()));
    EXPECT_EQ(TextOf(f.hwnd()), L"Orvelle");
    EXPECT_TRUE(SendMessageW(f.hwnd(), WM_GETICON, ICON_BIG, 0));
    wchar_t desktop[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop);
    EXPECT_EQ(f.Text1.text(), std::wstring(desktop) + L"\\");
    EXPECT_EQ(f.Text1.text(), GetDesktopFolder());
    EXPECT_TRUE(f.Option1.value());
    EXPECT_FALSE(f.Option2.value());
    EXPECT_TRUE(f.Option3.value());
    EXPECT_FALSE(f.Option4.value());
    EXPECT_EQ(f.ListView1.count(), 10);
    EXPECT_EQ(f.ListView1.itemText(9), L"Save every 24 hours");
    EXPECT_EQ(f.ListView1.selectedText(), L"Save every 5 minutes");
    EXPECT_EQ(f.ListView1.columnHeader(), L"How often would you like to backup all open MS Word documents?");
    EXPECT_EQ(f.ListView1.columnWidth(), MulDiv(6400, static_cast<int>(DpiOf(f.hwnd())), 1440));
    EXPECT_EQ(f.PushButton4.caption(), L"Turn Off Backup Save");
    EXPECT_EQ(f.Frame2.caption(), L"On. Next backup save will occur in");
    EXPECT_EQ(f.Timer1.interval(), 1000u);
    EXPECT_TRUE(f.Timer1.running());
    EXPECT_FALSE(f.Check5.value());
    EXPECT_FALSE(f.Check8.value());
    EXPECT_TRUE(f.Check8.visible());
    EXPECT_TRUE(f.cSysTray1->InTray());
    EXPECT_EQ(f.cSysTray1->TrayTip(), L"Orvelle");
    EXPECT_EQ(f.Options().docExtension, L".docx");
    EXPECT_EQ(f.Options().historyFile, (temp / L"Orvelle.txt").wstring());
    EXPECT_TRUE(f.LoadComplete);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_FALSE(rec.exitCode);
    EXPECT_TRUE(rec.commands.empty());
    EXPECT_EQ(rec.addToStartup, 0);
    EXPECT_EQ(ApplicationTitle(), L"Orvelle");

    // Centred on the screen's work area.
    RECT window;
    GetWindowRect(f.hwnd(), &window);
    MONITORINFO monitor{sizeof monitor};
    GetMonitorInfoW(MonitorFromWindow(f.hwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_NEAR(window.left + window.right, monitor.rcWork.left + monitor.rcWork.right, 2);
    EXPECT_NEAR(window.top + window.bottom, monitor.rcWork.top + monitor.rcWork.bottom, 2);

    // Exactly the five values that start-up writes back.
    auto stored = SettingsSnapshot::Texts();
    EXPECT_EQ(stored, (std::map<std::wstring, std::wstring>{{L"Path", GetDesktopFolder()},
                                                            {L"WhereOption", L"1"},
                                                            {L"Backup Option", L"1"},
                                                            {L"Closed Unsaved", L"On"},
                                                            {L"Last Moment", L"On"}}));
    auto raw = SettingsSnapshot::Read();
    ASSERT_TRUE(raw);
    for (const auto& [name, value] : *raw) EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name.c_str();
}

TEST_F(FormTest, StoredSettingsGoIntoTheirControlsAndAreNormalised) {
    SaveSetting(L"Path", L"D:\\Backups\\");
    SaveSetting(L"WhereOption", L"x");
    SaveSetting(L"OftenIndex", L"10");
    SaveSetting(L"BackupSwitch", L"Off");
    SaveSetting(L"Backup Option", L"2.0");
    SaveSetting(L"Windows Startup", L"On");
    Form1& f = Load();
    EXPECT_EQ(f.Text1.text(), L"D:\\Backups\\");
    EXPECT_TRUE(f.Option2.value());
    EXPECT_FALSE(f.Option1.value());
    EXPECT_EQ(f.ListView1.selectedIndex(), 9);
    EXPECT_EQ(f.PushButton4.caption(), L"Turn On Backup Save");
    EXPECT_EQ(f.Frame2.caption(), L"Auto Save is Turned Off.");
    EXPECT_FALSE(f.Timer1.running());
    EXPECT_TRUE(f.Option4.value());
    EXPECT_FALSE(f.Option3.value());
    EXPECT_TRUE(f.Check5.value());
    EXPECT_FALSE(f.Check8.value());
    EXPECT_TRUE(f.Check8.visible());
    EXPECT_EQ(rec.addToStartup, 0) << "the Run entry is not rewritten at start";
    auto stored = SettingsSnapshot::Texts();
    EXPECT_EQ(stored[L"Path"], L"D:\\Backups\\");
    EXPECT_EQ(stored[L"WhereOption"], L"2");
    EXPECT_EQ(stored[L"Backup Option"], L"2");
    EXPECT_EQ(stored[L"OftenIndex"], L"10");
    EXPECT_EQ(stored[L"BackupSwitch"], L"Off");
    EXPECT_EQ(stored[L"Windows Startup"], L"On");
    EXPECT_EQ(stored.count(L"Minimized"), 0u);
}

TEST_F(FormTest, LeadingNumberAndExactComparisons) {
    struct Case {
        const wchar_t* backupOption;
        bool option4;
        const wchar_t* backupSwitch;
        const wchar_t* button;
    } cases[] = {
        {L"2 ", true, L"on", L"Turn On Backup Save"},
        {L"b", false, L"OFF", L"Turn On Backup Save"},
        {L"", false, L"On", L"Turn Off Backup Save"},
        {L"1.5", false, L" On", L"Turn On Backup Save"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.backupOption);
        SettingsSnapshot::Clear();
        SaveSetting(L"Backup Option", c.backupOption);
        SaveSetting(L"BackupSwitch", c.backupSwitch);
        Form1& f = Load();
        EXPECT_EQ(f.Option4.value(), c.option4);
        EXPECT_EQ(f.Option3.value(), !c.option4);
        EXPECT_EQ(SettingsSnapshot::Texts()[L"Backup Option"], c.option4 ? L"2" : L"1");
        EXPECT_EQ(SettingsSnapshot::Texts()[L"BackupSwitch"], c.backupSwitch) << "never rewritten at start";
        EXPECT_EQ(f.PushButton4.caption(), c.button);
        // Neither "On" nor "Off": design captions, timer stopped.
        if (std::wstring(c.backupSwitch) != L"On") {
            EXPECT_FALSE(f.Timer1.running());
            EXPECT_EQ(f.Frame2.caption(), L"On. Next backup save will occur in");
            EXPECT_EQ(f.ProgressBar1.value(), 0);
        }
        form.reset();
    }
}

TEST_F(FormTest, MalformedOftenIndexIsReportedAndStartUpGoesOn) {
    struct Case {
        const wchar_t* stored;
        const wchar_t* description;
    } cases[] = {{L"abc", L"Type mismatch"}, {L"11", L"Index out of bounds"}, {L"0", L"Index out of bounds"},
                 {L"40000", L"Overflow"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        SettingsSnapshot::Clear();
        rec.boxes.clear();
        SaveSetting(L"OftenIndex", c.stored);
        Form1& f = Load();
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].caption, L"Application Error");
        const std::wstring head =
            std::wstring(c.description) + L"\r\nin Quillbay2021/08/31.Form1.Form_Load at line 90\r\r";
        EXPECT_EQ(rec.boxes[0].text.find(head), 0u)
            << rec.boxes[0].text.c_str();
        EXPECT_FALSE(f.ListView1.selectedIndex());
        EXPECT_TRUE(f.LoadComplete);
        EXPECT_TRUE(f.Timer1.running());
        EXPECT_EQ(SettingsSnapshot::Texts()[L"OftenIndex"], c.stored) << "never rewritten at start";
        form.reset();
    }
}

TEST_F(FormTest, SecondInstanceEndsSilently) {
    HANDLE first = CreateMutexW(nullptr, FALSE, L"Local\\Kelvane.Orvelle.Tests");
    ASSERT_TRUE(first);
    Form1& f = Load();
    EXPECT_EQ(rec.exitCode, 0u);
    EXPECT_FALSE(IsWindowVisible(f.hwnd()));
    EXPECT_FALSE(f.cSysTray1->InTray());
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_FALSE(SettingsSnapshot::Read()) << "nothing written";
    CloseHandle(first);
}

TEST_F(FormTest, MissingWordTakesTheIconOutBeforeTheEnd) {
    FormServices s = Services();
    s.checkWordAvailable = [] { return false; };
    bool versionAsked = false;
    s.getWordVersion = [&] { return versionAsked = true, 16.0; };
    Form1& f = Load(s);
    ASSERT_EQ(rec.exitCode, 0u);
    EXPECT_EQ(rec.inTrayAtExit, false);
    EXPECT_FALSE(versionAsked);
    EXPECT_FALSE(f.LoadComplete);
}

TEST_F(FormTest, HomePageOnADrawOfSevenOnly) {
    FormServices s = Services();
    s.drawPercent = [] { return 7; };
    Load(s);
    ASSERT_EQ(rec.commands.size(), 1u);
    EXPECT_EQ(rec.commands[0].first, L"explorer \"" + std::wstring(product::kHomePage) + L"\"");
    EXPECT_EQ(rec.commands[0].second, SW_SHOWMINIMIZED);
    form.reset();
    rec.commands.clear();
    s.drawPercent = [] { return 8; };
    Load(s);
    EXPECT_TRUE(rec.commands.empty());
    // An administrator's "Home Page" = "Off" ends the visit, whatever the draw.
    form.reset();
    s.drawPercent = [] { return 7; };
    reg::SetString(HKEY_LOCAL_MACHINE, policy::kKeyPath, policy::kHomePage, L"off");
    Load(s);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, policy::kKeyPath);
    EXPECT_TRUE(rec.commands.empty());
    for (int i = 0; i < 200; ++i) {
        int draw = DrawPercent();
        ASSERT_GE(draw, 1);
        ASSERT_LE(draw, 100);
    }
}
