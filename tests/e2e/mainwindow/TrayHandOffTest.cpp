// The hand-off to the notification area, as the user and the shell see it:
// the real icon, the real balloon, clicks on the icon, and no icon left
// behind when the program ends.
#include "common/Text.h"
#include "e2e/support/E2E.h"
#include "support/NotificationArea.h"

using namespace e2e;

namespace {

class TrayHandOff : public E2ETest {
protected:
    static bool WaitBalloon(std::wstring& text) {
        return WaitFor([&] { return !(text = BalloonText()).empty(); }, kActionLimit);
    }
    static void ExpectHandOffBalloon(const std::wstring& text) {
        const std::wstring first = L"has been minimized to the system tray.\r\n";
        EXPECT_EQ(text.compare(0, first.size(), first), 0) << ToUtf8(text);
        EXPECT_GT(text.size(), first.size() + 10) << "no second sentence: " << ToUtf8(text);
    }
    // Wine shows a balloon two seconds after it was asked for.
    static void ExpectNoBalloonAppears() {
        Sleep(3500);
        EXPECT_TRUE(Balloons().empty());
    }
};

TEST_F(TrayHandOff, MinimisingHidesIntoTheTrayWithOneBalloonPerRun) {
    Orvelle& app = Start();
    ASSERT_TRUE(app.WaitFirstTick()) << ToUtf8(app.Caption(ids::Frame2));
    HWND window = app.Window();
    HWND icon = FindTrayIcon(kTitle);
    ASSERT_NE(icon, nullptr);

    remote::PostMinimize(window);
    ASSERT_TRUE(WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    std::wstring text;
    ASSERT_TRUE(WaitBalloon(text));
    ExpectHandOffBalloon(text);

    // A click on the icon brings the window back, also during the balloon.
    ClickTrayIcon(icon);
    ASSERT_TRUE(WaitFor([&] { return remote::Visible(window); }, kActionLimit));
    EXPECT_FALSE(IsIconic(window));
    // The program takes its balloon down after five seconds.
    EXPECT_TRUE(WaitFor([] { return Balloons().empty(); }, 15s));

    // The countdown went on meanwhile.
    EXPECT_TRUE(app.SecondsLeft().has_value());

    remote::PostMinimize(window);
    ASSERT_TRUE(WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    ExpectNoBalloonAppears();

    // The right button restores as well.
    ClickTrayIcon(icon, true);
    ASSERT_TRUE(WaitFor([&] { return remote::Visible(window); }, kActionLimit));

    // Closing removes the icon and ends the program.
    remote::PostClose(window);
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    EXPECT_TRUE(WaitFor([] { return TrayIcons().empty(); }, kActionLimit));
}

TEST_F(TrayHandOff, StartInTrayComesUpHiddenWithItsBalloon) {
    Seed(L"Minimized", L"On");
    Orvelle& app = Start();
    HWND window = app.Window();
    ASSERT_TRUE(WaitFor([&] { return app.Checked(ids::Check8) && !remote::Visible(window); }, kStartLimit));

    std::wstring text;
    ASSERT_TRUE(WaitBalloon(text));
    ExpectHandOffBalloon(text);
    EXPECT_FALSE(remote::Visible(window));
    HWND icon = FindTrayIcon(kTitle);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(app.Checked(ids::Check8));
    EXPECT_EQ(Stored(L"Minimized"), L"On");

    ClickTrayIcon(icon);
    ASSERT_TRUE(WaitFor([&] { return remote::Visible(window); }, kActionLimit));
    // Start-up went on after the hand-off: the countdown ticks.
    EXPECT_TRUE(WaitFor([&] { return app.SecondsLeft().has_value(); }, kStartLimit));

    // That balloon was this run's one.
    EXPECT_TRUE(WaitFor([] { return Balloons().empty(); }, 15s));
    remote::PostMinimize(window);
    ASSERT_TRUE(WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    ExpectNoBalloonAppears();

    // Closed by the system while hidden in the tray: no dead icon remains.
    remote::PostClose(window);
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    EXPECT_TRUE(WaitFor([] { return TrayIcons().empty(); }, kActionLimit));
}

}  // namespace
