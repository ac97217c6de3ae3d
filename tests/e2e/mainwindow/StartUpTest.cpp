// Start-up of the built program where only another process can see it: a
// second instance, and a machine without Word.  What start-up makes of the
// settings store is proved in process (tests/integration/mainwindow).
#include "E2E.h"

using namespace e2e;
using remote::Narrow;

namespace {

// Start-up has ended once the first countdown tick has rewritten Frame2:
// ticks are handled only after the load handler has returned.
bool WaitFirstTick(Orvelle& app) {
    return remote::WaitFor([&] { return app.SecondsLeft().has_value(); }, kStartLimit);
}

class StartUp : public E2ETest {};

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
    // The whole text: WordProbes.UnregisteredWordShowsTheFiveParagraphsUnderTheApplicationTitle.
    const std::wstring first = L"Error 842001. A normal instance of Word could not be created.\r\n";
    EXPECT_EQ(remote::MessageBoxText(box).compare(0, first.size(), first), 0) << Narrow(remote::MessageBoxText(box));
    ASSERT_TRUE(remote::Answer(box, IDOK));
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    // No dead icon is left behind in the notification area.
    EXPECT_TRUE(remote::WaitFor([] { return remote::TrayIcons().empty(); }, kActionLimit));
}

}  // namespace
