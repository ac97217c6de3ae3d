// Minimising into the tray, coming back, and closing.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Text.h"

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
    EXPECT_EQ(balloon.title, "Orvelle");
    EXPECT_EQ(balloon.info.rfind("has been minimized to the system tray.\r\n", 0), 0u);
    EXPECT_NE(balloon.info.find("blue"), std::string::npos);
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

TEST_F(FormTest, ClosingStopsTheCountdownAndRemovesTheIcon) {
    ShellRecorder shell{rec.shell};
    Form1& f = Load();
    SendMessageW(f.hwnd(), WM_CLOSE, 0, 0);
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
