// Start-up of the built program where only another process can see it: a
// second instance, files planted beside the program, and a machine without
// Word.  What start-up makes of the
// settings store is proved in process (tests/integration/mainwindow).
#include "common/Text.h"
#include "e2e/support/E2E.h"
#include "support/NotificationArea.h"
#include "support/Paths.h"
#include "support/Registry.h"

using namespace e2e;

namespace {

class StartUp : public E2ETest {};

TEST_F(StartUp, ASecondInstanceEndsWithoutWindowOrMessage) {
    Orvelle& first = Start();
    ASSERT_TRUE(first.WaitFirstTick());
    // Word registered, not running: its registration answers, no Word is started.
    for (const auto& call : Word().calls()) EXPECT_NE(call.member, L"ClassFactory.CreateInstance");

    auto second = StartDetached();
    bool showedSomething = false;
    bool ended = WaitFor(
        [&] {
            for (HWND w : TopLevelWindows(second->Pid()))
                if (remote::Visible(w)) showedSomething = true;
            return !second->Process().Running();
        },
        kStartLimit, 5ms);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(showedSomething);
    EXPECT_TRUE(first.Process().Running());
    EXPECT_EQ(TrayIcons().size(), 1u);
}

TEST_F(StartUp, FilesPlantedBesideTheProgramUnderSystemNamesAreNotUsed) {
    // A portable copy may sit in a downloads folder beside anything: a DLL
    // that refuses to load, and a program that leaves a mark.
    const std::wstring planted = box_.programFolder + L"\\notepad.exe";
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\planted.dll").c_str(), (box_.programFolder + L"\\msftedit.dll").c_str(),
                          FALSE));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\planted-program.exe").c_str(), planted.c_str(), FALSE));
    WriteFileBytes(box_.HistoryFile(), "");

    Orvelle& app = Start();
    ASSERT_TRUE(app.WaitFirstTick());
    app.Click(ids::PushButton3);  // "View History Log"
    HWND notepad = WaitTopLevel(0, L"Notepad", nullptr, kStartLimit);
    EXPECT_NE(notepad, nullptr);
    EXPECT_FALSE(PathExists(planted + L".ran"));
    if (notepad) {
        auto editor = remote::Process::Open(ProcessOf(notepad));
        remote::PostClose(notepad);
        editor.WaitExit(kActionLimit);
    }

    // Starting with Windows enters the program itself, not a program beside it.
    app.Click(ids::Check5);
    EXPECT_TRUE(WaitFor([&] { return RunEntry() == L"\"" + box_.exe + L"\""; }, kActionLimit))
        << ToUtf8(RunEntry().value_or(L"(none)"));
    EXPECT_FALSE(reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, L"notepad.exe"));
    RemoveRunEntries();
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
    EXPECT_EQ(remote::MessageBoxText(box).compare(0, first.size(), first), 0) << ToUtf8(remote::MessageBoxText(box));
    ASSERT_TRUE(remote::Answer(box, IDOK));
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    // No dead icon is left behind in the notification area.
    EXPECT_TRUE(WaitFor([] { return TrayIcons().empty(); }, kActionLimit));
}

}  // namespace
