// The tray icon control's balloon: what it sends, how long it waits, and
// what the real shell shows.
#include "SysTrayFixture.h"

#include "common/Failure.h"

TEST_F(Tray, ShowOnceShowsOnlyTheFirstBalloonAndZeroSecondsDoesNotWait) {
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    calls.clear();
    tray->ShowBalloon(L"has been minimized to the system tray.\r\nClick the icon.", L"Orvelle", 0, true);
    ASSERT_EQ(calls.size(), 1u);  // no wait, no remove call
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Info(calls[0]), L"has been minimized to the system tray.\r\nClick the icon.");
    EXPECT_EQ(Title(calls[0]), L"Orvelle");
    EXPECT_EQ(calls[0].record.uTimeout, 0u);
    EXPECT_TRUE(calls[0].answer);
    EXPECT_TRUE(tray->BalloonShowing());

    tray->ShowBalloon(L"again", L"Orvelle", 0, true);
    EXPECT_EQ(calls.size(), 1u);
    tray->ShowBalloon(L"always", L"Orvelle", -5, false);
    tray->ShowBalloon(L"always", L"Orvelle", -5, false);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].record.uTimeout, 0u);
}

TEST_F(Tray, OverflowingSecondsFailBeforeAnythingIsSent) {
    tray->SetInTray(true);
    calls.clear();
    for (long seconds : {2147484L, -2147484L}) {
        try {
            tray->ShowBalloon(L"text", L"title", seconds, true);
            ADD_FAILURE() << seconds << " did not overflow";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 6);
        }
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(tray->BalloonShowing());
    // A balloon that failed does not count as the one shown once.
    tray->ShowBalloon(L"text", L"title", 0, true);
    EXPECT_EQ(calls.size(), 1u);
}

namespace {
HWND timerTarget = nullptr;
UINT timerNotification = 0;
void CALLBACK SendBalloonClosed(HWND host, UINT, UINT_PTR id, DWORD) {
    KillTimer(host, id);
    // A click on the icon during the wait, then the shell's balloon report.
    SendMessageW(timerTarget, kTrayCallbackMessage, 0, WM_LBUTTONUP);
    SendMessageW(timerTarget, kTrayCallbackMessage, 0, timerNotification);
}
}  // namespace

TEST_F(Tray, TheShellsBalloonReportEndsTheWaitWithoutARemoveCall) {
    // Wine never sends these reports, so they are sent here the way the
    // shell would, while the control waits.
    tray->SetInTray(true);
    timerTarget = tray->Window();
    for (UINT notification : {NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT, NIN_BALLOONUSERCLICK}) {
        calls.clear();
        log.clear();
        timerNotification = notification;
        SetTimer(host, 1, 100, &SendBalloonClosed);
        tray->ShowBalloon(L"text", L"title", 120, false);
        ASSERT_EQ(calls.size(), 1u) << Hex(notification);
        EXPECT_EQ(calls[0].record.uTimeout, 120000u);
        EXPECT_FALSE(tray->BalloonShowing());
        // Handlers ran inside the wait.
        EXPECT_EQ(log, (Log{"MouseUp 1 0"}));
    }
}

TEST_F(Tray, AWaitThatRunsOutTakesTheBalloonDown) {
    tray->SetInTray(true);
    calls.clear();
    tray->ShowBalloon(L"text", L"title", 1, false);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Info(calls[0]), L"text");
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Info(calls[1]), L"");
    EXPECT_EQ(Title(calls[1]), L"");
    EXPECT_EQ(calls[1].record.uTimeout, 1000u);
}

TEST_F(Tray, TheShellShowsTheBalloonText) {
    // Proves that the shell takes the whole wide record (with a size it did
    // not know it would fall back to the old tip-only layout and show
    // nothing), and names in any script as they are: Cyrillic and Chinese
    // are outside the ANSI code page of these tests.
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(IconsBecome(1));
    for (const wchar_t* text : {L"has been minimized to the system tray.",
                                L"Word closed Отчёт.docx with changes that were not saved.", L"报告.docx"}) {
        tray->ShowBalloon(text, L"Orvelle", 0, false);
        std::wstring shown;
        EXPECT_TRUE(PumpUntil([&] { return (shown = BalloonText()) == text; })) << shown;
    }
}
