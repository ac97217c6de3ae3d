// Minimising into the tray, coming back, and closing.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Text.h"
#include "common/IsInstalled.h"
#include "engine/BackupName.h"
#include "common/Automation.h"
#include "common/MonotonicClock.h"
#include "engine/RecoveredCopies.h"
#include "engine/WordInstances.h"
#include "Protocol.h"
#include "support/Docx.h"
#include "support/StandIn.h"
#include "support/Thread.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <iterator>

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

// The last moment, with the real run and the stand-in: backups taken inside
// Word's close and before the session ends, read back from the backups folder.
class LastMomentTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        fs::create_directories(backups = temp / "backups");
        SaveSetting(settings::kPath, backups.wstring());
        FormServices s = Services();
        s.saveAll = nullptr;  // the real run
        Load(std::move(s));
    }
    // The text of a document's newest backup, by the time it was written.
    std::wstring Newest(const std::wstring& name) const {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(backups))
            if (entry.path().filename().wstring().starts_with(name + L" ") &&
                (newest.empty() || entry.last_write_time() >= fs::last_write_time(newest)))
                newest = entry.path();
        return newest.empty() ? L"(none)" : ReadDocxText(newest.wstring());
    }
    // Written once Word's close has returned: pumped for.
    ::testing::AssertionResult Kept(const std::wstring& name, const std::wstring& text) const {
        if (PumpUntil([&] { return Newest(name) == text; })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " holds " << testing::PrintToString(Newest(name));
    }
    int Calls(const std::wstring& member) const {
        return static_cast<int>(std::ranges::count(session.calls(), member, &StandIn::Call::member));
    }
    // Every open document of every Word of the user's, as a run finds them.
    static std::vector<Dispatch> Documents() {
        WordInstances instances;
        instances.find();
        std::vector<Dispatch> documents;
        for (const FoundWord& found : instances.backedUp()) {
            Word word;
            word.attach(found.app);
            std::ranges::move(word.snapshot(), std::back_inserter(documents));
        }
        return documents;
    }
    static void Type(const Dispatch& document, const std::wstring& text) {
        document.call(L"Range").toDispatch().put(L"Text", text);
    }
    std::wstring Write(const std::wstring& name) const { return session.folder().write(name, name); }

    MessageFilterRegistration filter;  // as orvelle.exe registers it
    StandIn::Session session;
    fs::path backups;
};

TEST_F(LastMomentTest, EveryCloseOfAChangedDocumentKeepsWhatWasTypedSinceTheRun) {
    ShellRecorder shell{rec.shell};
    auto word = StandIn::StartUserWord({Write(L"A.txt"), Write(L"B.txt"), Write(L"C.txt"), Write(L"D.txt"),
                                        Write(L"E.txt"), Write(L"F.txt")});
    form->PushButton2_Click();
    ASSERT_EQ(Calls(L"ApplicationEvents.Advise"), 1);
    const HWND control = FindTopLevel(word.pid, standin::kWindowClass);
    const auto closesTo = [&](size_t count) { return PumpUntil([&] { return Documents().size() == count; }); };
    // "Don't Save" through automation, as the user, and by the window; the
    // saved D gets nothing, nor E, which Word let go before it could be read.
    Type(Documents()[0], L"a typed after the run");
    Documents()[0].call(L"Close", {false});
    EXPECT_TRUE(Kept(L"A.txt", L"a typed after the run"));
    Type(Documents()[0], L"b typed after the run");
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerDontSave);
    ASSERT_TRUE(closesTo(4));
    EXPECT_TRUE(Kept(L"B.txt", L"b typed after the run"));
    Type(Documents()[0], L"c typed after the run");
    PostMessageW(FindTopLevel(word.pid, standin::kDocumentWindowClass, L"C.txt - Word"), WM_CLOSE, 0, 0);
    ASSERT_TRUE(closesTo(3));
    EXPECT_TRUE(Kept(L"C.txt", L"c typed after the run"));
    StandIn::SetFault(L"gone", {.member = L"ApplicationEvents.DocumentBeforeClose", .action = L"gone",
                                .document = L"E.txt"});
    Type(Documents()[1], L"e typed");
    PostMessageW(control, standin::kUserCloseMessage, 2, standin::kAnswerDontSave);
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerDontSave);
    ASSERT_TRUE(closesTo(1));
    EXPECT_EQ(Newest(L"D.txt"), L"D.txt");
    EXPECT_EQ(Newest(L"E.txt"), L"E.txt");
    // A, B and C were changed when Word closed them: the next run tells of them.
    form->PushButton2_Click();
    EXPECT_EQ(shell.calls.back().info.rfind(L"Word closed 3 documents", 0), 0u) << shell.calls.back().info;
    // A close cancelled at Word's question: its backup is taken, nothing is said.
    Type(Documents()[0], L"f typed");
    const int balloons = shell.count(NIM_MODIFY, NIF_INFO);
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerCancel);
    ASSERT_TRUE(PumpUntil([&] { return Calls(L"ApplicationEvents.DocumentBeforeClose") == 6; }));
    EXPECT_TRUE(Kept(L"F.txt", L"f typed"));
    form->PushButton2_Click();
    EXPECT_EQ(shell.count(NIM_MODIFY, NIF_INFO), balloons);
    EXPECT_TRUE(rec.boxes.empty());
    // Closed by the user inside one of a timed run's calls, before the run
    // reached it: taken at the close, written once the run is over.
    Type(Documents()[0], L"f typed during a run");
    StandIn::SetFault(L"close", {.member = L"Application.Documents", .action = L"close", .times = 1,
                                 .file = L"F.txt"});
    form->PushButton2_Click();
    EXPECT_EQ(Calls(L"User.Close"), 1);
    EXPECT_TRUE(Kept(L"F.txt", L"f typed during a run"));

    // Off, Orvelle stops listening and does not listen again.
    form->Check12.setValue(false);
    EXPECT_EQ(Calls(L"ApplicationEvents.Unadvise"), 1);
    form->PushButton2_Click();
    EXPECT_EQ(Calls(L"ApplicationEvents.Advise"), 1);
}

TEST_F(LastMomentTest, QuitBacksUpEachChangedDocumentAndARefusingWordIsBackedUpByTheTimer) {
    auto quitting = StandIn::StartUserWord({Write(L"A.txt"), Write(L"B.txt")});
    form->PushButton2_Click();
    Type(Documents()[0], L"a at the quit");
    Type(Documents()[1], L"b at the quit");
    Dispatch::GetActive(L"Word.Application").call(L"Quit");
    EXPECT_TRUE(Kept(L"A.txt", L"a at the quit"));
    EXPECT_TRUE(Kept(L"B.txt", L"b at the quit"));
    ASSERT_TRUE(StandIn::WaitForExit(quitting.pid, 10000));

    StandIn::SetFault(L"refuse", {.member = L"ApplicationEvents.Advise"});
    StandIn::StartUserWord({session.folder().file(L"A.txt")});
    form->PushButton2_Click();
    form->PushButton2_Click();
    EXPECT_EQ(Calls(L"ApplicationEvents.Advise"), 2) << "asked once";
    EXPECT_EQ(Newest(L"A.txt"), L"A.txt");
    EXPECT_TRUE(rec.boxes.empty());
}

// Windows sends these from another thread and waits 5 s (2 s before sleep).
TEST_F(LastMomentTest, EndOfSessionAndSleepBackUpEveryChangedDocumentInTime) {
    StandIn::StartUserWord({Write(L"A.txt"), Write(L"B.txt")});
    StandIn::StartUserWord({}, {L"Notes"});
    StandIn::StartHiddenWord({Write(L"H.txt")});  // a program's: not listened to
    form->PushButton2_Click();
    ASSERT_EQ(Calls(L"ApplicationEvents.Advise"), 2);
    const std::vector<Dispatch> documents = Documents();
    const struct {
        UINT message;
        WPARAM wParam;
        Millis within;
        bool hung;  // one Word never answers
    } kCases[] = {{WM_QUERYENDSESSION, 0, Millis(5000), false},
                  {WM_POWERBROADCAST, PBT_APMSUSPEND, Millis(2000), false},
                  {WM_QUERYENDSESSION, 0, Millis(5000), true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.message);
        std::vector<std::wstring> typed, kept;
        for (const Dispatch& document : documents) {
            typed.push_back(document.get(L"Name").toText() + L" at " + std::to_wstring(c.message));
            Type(document, typed.back());
        }
        if (c.hung)
            StandIn::SetFault(L"hung", {.member = L"Application.Documents", .action = L"slow", .milliseconds = 8000,
                                        .times = 1});
        std::atomic<bool> answered{false};
        Millis took{};
        Thread windows([&] {
            const auto start = MonotonicClock::now();
            EXPECT_EQ(SendMessageW(form->hwnd(), c.message, c.wParam, 0), TRUE);
            took = std::chrono::duration_cast<Millis>(MonotonicClock::now() - start);
            for (const wchar_t* name : {L"A.txt", L"B.txt", L"Notes"}) kept.push_back(Newest(name));
            answered = true;
        });
        ASSERT_TRUE(PumpUntil([&] { return answered.load(); }, std::chrono::seconds(30)));
        windows.join();
        if (!c.hung) {
            EXPECT_EQ(kept, typed);
        }
        EXPECT_LT(took, c.within);
    }
}
