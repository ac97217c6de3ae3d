// Minimising into the tray, coming back, and closing.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Text.h"
#include "common/IsInstalled.h"
#include "engine/BackupName.h"
#include "engine/RecoveredCopies.h"
#include "support/Wait.h"

#include <commctrl.h>

namespace {

// The tray control's calls to the shell since the test began.
struct ShellRecorder {
    const std::vector<ShellCall>& calls;
    int count(DWORD message, UINT flag = 0) const {
        int n = 0;
        for (const auto& c : calls) n += c.message == message && (!flag || (c.flags & flag));
        return n;
    }
};

void TrayMouse(Form1& f, UINT mouseMessage) {
    SendMessageW(f.cSysTray1->Window(), kTrayCallbackMessage, 0, mouseMessage);
}

}  // namespace

TEST_F(FormTest, MinimiseHidesIntoTheTrayWithOneBalloonPerRun) {
    ShellRecorder shell{rec.shell};
    Form1& f = Load();
    ShowWindow(f.hwnd(), SW_MINIMIZE);  // returns after the balloon's 5 seconds
    EXPECT_FALSE(IsWindowVisible(f.hwnd()));
    EXPECT_TRUE(f.MinimizedToTray);
    ASSERT_EQ(shell.count(NIM_MODIFY, NIF_INFO), 2) << "shown, then taken down after 5 seconds";
    const ShellCall& balloon = shell.calls[shell.calls.size() - 2];
    EXPECT_EQ(balloon.title, L"Orvelle");
    EXPECT_EQ(balloon.info.rfind(L"has been minimized to the system tray.\r\n", 0), 0u);
    EXPECT_NE(balloon.info.find(L"blue"), std::wstring::npos);
    EXPECT_EQ(balloon.timeout, 5000u);
    EXPECT_EQ(shell.count(NIM_DELETE), 0) << "the icon stays";

    TrayMouse(f, WM_MOUSEMOVE);
    TrayMouse(f, WM_LBUTTONDOWN);
    TrayMouse(f, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(f.hwnd())) << "only a release brings it back";
    TrayMouse(f, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(f.hwnd()));
    EXPECT_FALSE(IsIconic(f.hwnd()));
    EXPECT_FALSE(f.MinimizedToTray);

    const size_t before = shell.calls.size();
    ShowWindow(f.hwnd(), SW_MINIMIZE);
    EXPECT_FALSE(IsWindowVisible(f.hwnd()));
    EXPECT_EQ(shell.calls.size(), before) << "no second balloon in one run";
    TrayMouse(f, WM_RBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(f.hwnd()));
    EXPECT_FALSE(f.MinimizedToTray);
}

TEST_F(FormTest, StartInTrayHidesDuringStartUp) {
    ShellRecorder shell{rec.shell};
    SaveSetting(L"Minimized", L"On");
    Form1& f = Load();
    EXPECT_FALSE(IsWindowVisible(f.hwnd()));
    EXPECT_TRUE(f.MinimizedToTray);
    EXPECT_TRUE(f.cSysTray1->InTray());
    EXPECT_TRUE(f.Check8.value());
    EXPECT_TRUE(f.LoadComplete);
    EXPECT_EQ(shell.count(NIM_ADD), 1);
    EXPECT_EQ(shell.count(NIM_MODIFY, NIF_INFO), 2);
    EXPECT_EQ(SettingsSnapshot::Texts()[L"Minimized"], L"On");
    TrayMouse(f, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(f.hwnd()));
    RECT client;
    GetClientRect(f.hwnd(), &client);
    EXPECT_EQ(client.right, MulDiv(8040, static_cast<int>(DpiOf(f.hwnd())), 1440)) << "its normal size";
}

// Plain copies of protected backups that Word opened (held since start-up)
// go once it lets go: with automatic backup off on the window's own timer,
// and as the window closes.
TEST_F(FormTest, ClosingStopsTheCountdownAndRemovesTheIcon) {
    ShellRecorder shell{rec.shell};
    std::wstring copies[2];
    UniqueFile held[2];
    for (int n : {0, 1}) {
        copies[n] = RecoveredCopiesFolder() + L"\\" + RecoveredCopyName(L"Отчёт", LocalNow(), n + 1, L".docx");
        WriteUtf8File(copies[n], L"plain");
        held[n].reset(
            CreateFileW(copies[n].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    SaveSetting(L"BackupSwitch", L"Off");
    Form1& f = Load();
    held[0].reset();
    EXPECT_TRUE(PumpUntil([&] { return !FileExists(copies[0]); }));
    held[1].reset();
    EXPECT_TRUE(FileExists(copies[1]));
    SendMessageW(f.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(FileExists(copies[1]));
    EXPECT_FALSE(f.Timer1.running());
    EXPECT_FALSE(f.cSysTray1->InTray());
    EXPECT_EQ(shell.count(NIM_DELETE), 1);
    EXPECT_EQ(rec.exitCode, 0u);
    EXPECT_EQ(rec.inTrayAtExit, false);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(rec.finishRunNow, 0) << "no run to finish";
}

TEST_F(FormTest, ClosingOrLoggingOffDuringARunLetsTheRunCleanUpFirst) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
    } cases[] = {{"close", WM_CLOSE, 0}, {"log-off", WM_ENDSESSION, TRUE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec = {};
        ShellRecorder shell{rec.shell};
        FormServices s = Services();
        // The run waits for the clipboard, and the close arrives meanwhile.
        s.saveAll = [&](const BackupOptions&, RunHost&) {
            ++rec.saveAllCalls;
            SendMessageW(form->hwnd(), c.message, c.wParam, ENDSESSION_LOGOFF);
            // A second close while the first one ends the run changes nothing.
            SendMessageW(form->hwnd(), WM_CLOSE, 0, 0);
            return RunOutcome::Done;
        };
        Form1& f = Load(s);
        f.PushButton2_Click();
        EXPECT_EQ(rec.saveAllCalls, 1);
        EXPECT_EQ(rec.finishRunNowAtExit, 1) << "the run was told to finish before the process ended";
        EXPECT_EQ(rec.finishRunNow, 1);
        EXPECT_EQ(rec.exitCode, 0u);
        EXPECT_EQ(rec.inTrayAtExit, false);
        EXPECT_EQ(shell.count(NIM_DELETE), 1);
        EXPECT_FALSE(f.Timer1.running());
        form.reset();
    }
}

TEST_F(FormTest, LogOffWhileHiddenInTheTrayRemovesTheIcon) {
    ShellRecorder shell{rec.shell};
    SaveSetting(L"Minimized", L"On");
    Form1& f = Load();
    ASSERT_FALSE(IsWindowVisible(f.hwnd()));
    EXPECT_TRUE(SendMessageW(f.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
    SendMessageW(f.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(shell.count(NIM_DELETE), 1);
    EXPECT_EQ(rec.inTrayAtExit, false);
    EXPECT_FALSE(f.Timer1.running());
}

TEST_F(FormTest, RestartedShellGetsTheIconBack) {
    ShellRecorder shell{rec.shell};
    Form1& f = Load();
    ASSERT_EQ(shell.count(NIM_ADD), 1);
    SendMessageW(f.hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(shell.count(NIM_ADD), 2);
}

TEST_F(FormTest, WorkClosedUnsavedGetsOneBalloonWhoseClickOpensItsNewestBackup) {
    ShellRecorder shell{rec.shell};
    ScratchFolder folder;
    SYSTEMTIME at;
    GetLocalTime(&at);
    at.wHour = 10, at.wMinute = 42;
    const std::wstring older = WriteAgedFile(folder.file(L"Report.docx Dec 1 2026.docx"), 60);
    const std::wstring newest = WriteAgedFile(BuildBackupName(folder.file(L"Report.docx"), true, L".docx"), 1);
    RememberBackupFolder(folder.path());
    Form1& f = Load();

    f.DocumentsClosedUnsaved({{L"Report.docx", newest, at}});
    ASSERT_EQ(shell.count(NIM_MODIFY, NIF_INFO), 1);
    EXPECT_EQ(shell.calls.back().info, L"Word closed Report.docx with changes that were not saved. Its last backup is "
                                       L"from 10:42 AM. Click here to see it.");
    EXPECT_EQ(shell.calls.back().timeout, 0u) << "the shell's own time: nothing waits for it";
    EXPECT_NE(GetForegroundWindow(), FindWindowW(L"OrvelleBackupsWindow", nullptr));

    TrayMouse(f, NIN_BALLOONUSERCLICK);
    HWND window = FindWindowW(L"OrvelleBackupsWindow", nullptr);
    ASSERT_TRUE(window && IsWindowVisible(window));
    HWND documents = GetDlgItem(window, 2004), backups = GetDlgItem(window, 2006);
    auto selected = [](HWND list) {
        wchar_t text[MAX_PATH] = {};
        ListView_GetItemText(list, ListView_GetNextItem(list, -1, LVNI_SELECTED), 0, text, MAX_PATH);
        return std::wstring(text);
    };
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(backups) == 2; }, std::chrono::seconds(20)));
    EXPECT_EQ(selected(documents), L"Report.docx");
    EXPECT_EQ(ListView_GetNextItem(backups, -1, LVNI_SELECTED), 0) << "the newest on top, selected";

    // Several documents: one balloon; nothing at all with the option off.
    f.DocumentsClosedUnsaved({{L"A", newest, at}, {L"B", older, at}, {L"C", older, at}});
    EXPECT_EQ(shell.calls.back().info,
              L"Word closed 3 documents with changes that were not saved. Click here to see their backups.");
    SendMessageW(f.Check11.hwnd(), BM_CLICK, 0, 0);
    const size_t before = shell.calls.size();
    f.DocumentsClosedUnsaved({{L"Report.docx", newest, at}});
    EXPECT_EQ(shell.calls.size(), before);
}
