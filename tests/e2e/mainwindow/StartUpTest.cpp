// Start-up of the built program, seen from outside: what a clean or a
// seeded settings store turns into, what it writes back, the reports it
// shows, a second instance and a machine without Word.
#include "E2E.h"

#include <shlobj.h>

#include <algorithm>
#include <regex>

using namespace e2e;
using remote::Narrow;

namespace {

std::wstring DesktopFolder() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

const wchar_t* const kIntervalTexts[] = {
    L"Save every 30 seconds", L"Save every 1 minute", L"Save every 5 minutes", L"Save every 15 minutes",
    L"Save every 30 minutes", L"Save every hour",     L"Save every 2 hours",   L"Save every 4 hours",
    L"Save every 8 hours",    L"Save every 24 hours",
};

// Start-up has ended once the first countdown tick has rewritten Frame2:
// ticks are handled only after the load handler has returned.
bool WaitFirstTick(Orvelle& app) {
    return remote::WaitFor([&] { return app.SecondsLeft().has_value(); }, kStartLimit);
}

// With the switch off there is no tick to wait for; the tray icon and a
// restored Check5 come late in start-up, the Word probes after them.
bool WaitTrayIcon() {
    return remote::WaitFor([] { return remote::FindTrayIcon(kTitle) != nullptr; }, kStartLimit);
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class StartUp : public E2ETest {};

TEST_F(StartUp, CleanStoreGivesTheFirstRunStateAndStoresThreeValues) {
    Orvelle& app = Start();
    ASSERT_TRUE(WaitFirstTick(app)) << Narrow(app.Caption(ids::Frame2));

    EXPECT_EQ(remote::Text(app.Window()), L"Orvelle");
    EXPECT_TRUE(remote::Visible(app.Window()));
    EXPECT_EQ(app.Caption(ids::Text1), DesktopFolder() + L"\\");
    EXPECT_TRUE(app.Checked(ids::Option1));
    EXPECT_FALSE(app.Checked(ids::Option2));
    EXPECT_TRUE(app.Checked(ids::Option3));
    EXPECT_FALSE(app.Checked(ids::Option4));
    EXPECT_FALSE(app.Checked(ids::Check5));
    EXPECT_FALSE(app.Checked(ids::Check8));
    EXPECT_TRUE(app.ControlVisible(ids::Check8));
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn Off Backup Save");

    HWND list = app.Control(ids::ListView1);
    ASSERT_EQ(remote::ListViewCount(list), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(remote::ListViewItemText(list, i), kIntervalTexts[i]) << i;
    EXPECT_EQ(remote::ListViewColumnText(list, 0), L"How often would you like to backup all open MS Word documents?");
    EXPECT_EQ(app.SelectedInterval(), 3);

    // The first ticks count down from five minutes.
    auto left = app.SecondsLeft();
    ASSERT_TRUE(left);
    EXPECT_LT(*left, 300);
    EXPECT_GT(*left, 240);
    EXPECT_EQ(app.Progress().high, 300);

    EXPECT_EQ(Sorted(StoredNames()), (std::vector<std::wstring>{L"Backup Option", L"Path", L"WhereOption"}));
    EXPECT_EQ(Stored(L"Path"), DesktopFolder() + L"\\");
    EXPECT_EQ(Stored(L"WhereOption"), L"1");
    EXPECT_EQ(Stored(L"Backup Option"), L"1");

    EXPECT_NE(remote::FindTrayIcon(kTitle), nullptr);
    EXPECT_FALSE(RunEntry());
}

TEST_F(StartUp, ControlsCarryTheirDesignCaptions) {
    Seed(L"BackupSwitch", L"Off");  // keeps Frame2 from ticking
    Orvelle& app = Start();
    ASSERT_TRUE(WaitTrayIcon());
    const std::pair<int, const wchar_t*> captions[] = {
        {ids::PushButton4, L"Turn On Backup Save"},
        {ids::Frame2, L"Auto Save is Turned Off."},
        {ids::Frame1, L"Where would you like to backup all open MS Word documents?"},
        {ids::Option1, L"Save all backups to this location:"},
        {ids::PushButton1, L"..."},
        {ids::Option2, L"Save all backups to the same folder as the open documents"},
        {ids::Frame3, L"Options"},
        {ids::Option3, L"Create new file on backup"},
        {ids::Option4, L"Overwrite old backup file on backup"},
        {ids::Check5, L"Load this software on Windows startup"},
        {ids::Check8, L"Start in system tray"},
        {ids::PushButton2, L"Backup Save Now (Test)"},
        {ids::PushButton3, L"View History Log"},
        {ids::PushButton5, L"Copy History To Clipboard"},
        {ids::PushButton11, L"Help"},
        {ids::PushButton12, L"Clear History Log"},
    };
    for (const auto& [id, caption] : captions) EXPECT_EQ(app.Caption(id), caption) << "control " << id;
}

TEST_F(StartUp, StoredValuesChooseTheControlsAndAreNormalised) {
    Seed(L"Path", L"D:\\Some Where\\");
    Seed(L"WhereOption", L"x");
    Seed(L"OftenIndex", L"10");
    Seed(L"BackupSwitch", L"Off");
    Seed(L"Backup Option", L"2.0");
    Seed(L"Windows Startup", L"On");
    Seed(L"Minimized", L"Off");
    Orvelle& app = Start();
    ASSERT_TRUE(WaitTrayIcon());
    ASSERT_TRUE(remote::WaitFor([&] { return app.Checked(ids::Check5); }, kStartLimit));

    EXPECT_EQ(app.Caption(ids::Text1), L"D:\\Some Where\\");
    EXPECT_TRUE(app.Checked(ids::Option2));
    EXPECT_FALSE(app.Checked(ids::Option1));
    EXPECT_EQ(app.SelectedInterval(), 10);
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn On Backup Save");
    EXPECT_EQ(app.Caption(ids::Frame2), L"Auto Save is Turned Off.");
    EXPECT_TRUE(app.Checked(ids::Option4));
    EXPECT_FALSE(app.Checked(ids::Option3));
    EXPECT_FALSE(app.Checked(ids::Check8));

    EXPECT_TRUE(WaitStored(L"WhereOption", L"2"));
    EXPECT_TRUE(WaitStored(L"Backup Option", L"2"));
    EXPECT_EQ(Stored(L"Path"), L"D:\\Some Where\\");
    EXPECT_EQ(Stored(L"OftenIndex"), L"10");
    EXPECT_EQ(Stored(L"BackupSwitch"), L"Off");
    EXPECT_EQ(Stored(L"Windows Startup"), L"On");
    // Restoring the box does not enter the program in the Run key.
    EXPECT_FALSE(RunEntry());
}

TEST_F(StartUp, ALetterForTheBackupOptionAndAnOddSwitchKeepTheDesign) {
    Seed(L"Backup Option", L"x");
    Seed(L"BackupSwitch", L"on");  // the comparison is case-sensitive
    Orvelle& app = Start();
    ASSERT_TRUE(WaitTrayIcon());

    EXPECT_TRUE(app.Checked(ids::Option3));
    EXPECT_TRUE(WaitStored(L"Backup Option", L"1"));
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn On Backup Save");
    EXPECT_EQ(app.Caption(ids::Frame2), L"On. Next backup save will occur in");
    // The timer stays stopped: no tick rewrites the caption or moves the bar.
    remote::Sleep(2500ms);
    EXPECT_EQ(app.Caption(ids::Frame2), L"On. Next backup save will occur in");
    EXPECT_EQ(app.Progress().position, 0);
    EXPECT_EQ(Stored(L"BackupSwitch"), L"on");
}

TEST_F(StartUp, BackupOptionTwoFollowedByABlankChoosesOverwrite) {
    Seed(L"Backup Option", L"2 ");
    Seed(L"BackupSwitch", L"Off");
    Orvelle& app = Start();
    ASSERT_TRUE(WaitTrayIcon());
    EXPECT_TRUE(app.Checked(ids::Option4));
    EXPECT_TRUE(WaitStored(L"Backup Option", L"2"));
}

// "OftenIndex" that is no number, or no position of the list: start-up
// reports it under its own location and goes on, with nothing selected.
TEST_F(StartUp, MalformedOftenIndexIsReportedAndSelectsNothing) {
    for (const wchar_t* stored : {L"abc", L"11"}) {
        SCOPED_TRACE(Narrow(stored));
        ClearStore();
        Seed(L"OftenIndex", stored);
        auto app = StartDetached();
        HWND box = app->WaitBox(L"Application Error", kStartLimit);
        ASSERT_NE(box, nullptr);
        std::wstring text = remote::MessageBoxText(box);
        std::wsmatch m;
        EXPECT_TRUE(std::regex_match(
            text, m,
            std::wregex(L"[^\r\n]+\r\nin Quillbay2021/08/31\\.Form1\\.Form_Load at line \\d+\r\rPlease email "
                        L"screenshot of this message to .+")))
            << Narrow(text);
        ASSERT_TRUE(remote::Answer(box, IDOK));

        ASSERT_TRUE(WaitTrayIcon());
        ASSERT_TRUE(remote::WaitFor([&] { return app->Caption(ids::PushButton4) == L"Turn Off Backup Save"; },
                                    kStartLimit));
        EXPECT_EQ(app->SelectedInterval(), 0);
        // The rest of start-up ran.
        EXPECT_TRUE(app->Checked(ids::Option3));
        EXPECT_TRUE(WaitStored(L"Backup Option", L"1"));
        EXPECT_EQ(Stored(L"OftenIndex"), stored);
        // Ticks without a chosen interval must not bury the user in reports.
        remote::Sleep(2500ms);
        EXPECT_TRUE(remote::Dialogs(app->Pid()).empty()) << "a report per tick";
        for (HWND extra : remote::Dialogs(app->Pid())) {
            std::printf("extra dialog: %s\n", Narrow(remote::MessageBoxText(extra)).c_str());
            remote::Answer(extra, IDOK, 1s);
        }
        EXPECT_TRUE(app->Close());
    }
}

TEST_F(StartUp, ASecondInstanceEndsWithoutWindowOrMessage) {
    Orvelle& first = Start();
    ASSERT_TRUE(WaitFirstTick(first));

    auto second = StartDetached();
    bool showedSomething = false;
    bool ended = remote::WaitFor(
        [&] {
            for (HWND w : remote::TopLevelWindows(second->Pid()))
                if (remote::Visible(w)) showedSomething = true;
            return !second->Process().Running();
        },
        kStartLimit, 5ms);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(showedSomething);
    EXPECT_TRUE(first.Process().Running());
    EXPECT_EQ(remote::TrayIcons().size(), 1u);
}

class StartUpWithoutWord : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        StandIn::Unregister();
    }
};

TEST_F(StartUpWithoutWord, ExplainsWhatToCheckAndEnds) {
    Orvelle& app = Start();
    HWND box = app.WaitBox(L"Orvelle", kStartLimit);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(remote::MessageBoxText(box),
              L"Error 842001. A normal instance of Word could not be created.\r\n\r\n"
              L"1. Please make sure Word is installed on this computer.\r\n\r\n"
              L"2. Please open Word normally and make sure a blank document opens immediately without any "
              L"interrupting window (such as an Word file recovery window).\r\n\r\n"
              L"3. Please make sure that when you double-click on a DOC or DOCX file that Word opens normally "
              L"without any interrupting messages.\r\n\r\n"
              L"4. All versions of Word are supported by this software except for the rare Word Starter and "
              L"Student editions.");
    ASSERT_TRUE(remote::Answer(box, IDOK));
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    // No dead icon is left behind in the notification area.
    EXPECT_TRUE(remote::WaitFor([] { return remote::TrayIcons().empty(); }, kActionLimit));
}

}  // namespace
