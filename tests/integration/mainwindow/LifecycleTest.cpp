// Minimising into the tray, coming back, and closing.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Text.h"
#include "engine/BackupName.h"
#include "common/Automation.h"
#include "common/MonotonicClock.h"
#include "Protocol.h"
#include "support/Docx.h"
#include "support/StandIn.h"
#include "support/Thread.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <atomic>

using Microsoft::WRL::ComPtr;

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
    EXPECT_EQ(shell.calls.back().info, "Word closed Report.docx with changes that were not saved. Its last backup is "
                                       "from 10:42 AM. Click here to see it.");
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
              "Word closed 3 documents with changes that were not saved. Click here to see their backups.");
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
        backups = temp / "backups";
        fs::create_directories(backups);
        SaveSetting(settings::kPath, backups.wstring());
    }
    Form1& LoadWithRealRun() {
        FormServices s = Services();
        s.saveAll = nullptr;
        return Load(std::move(s));
    }
    // The text of the newest backup of a document, by the time it was written.
    std::wstring Newest(const std::wstring& name) const {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(backups))
            if (entry.path().filename().wstring().starts_with(name + L" ") &&
                (newest.empty() || entry.last_write_time() >= fs::last_write_time(newest)))
                newest = entry.path();
        return newest.empty() ? L"(none)" : ReadDocxText(newest.wstring());
    }
    int BackupsOf(const std::wstring& name) const {
        return static_cast<int>(std::ranges::count_if(fs::directory_iterator(backups), [&](const auto& entry) {
            return entry.path().filename().wstring().starts_with(name + L" ");
        }));
    }
    int Calls(const std::wstring& member) const {
        return static_cast<int>(std::ranges::count(session.calls(), member, &StandIn::Call::member));
    }
    static Dispatch Document(int i) {
        return Dispatch::GetActive(L"Word.Application").get(L"Documents").toDispatch().call(L"Item", {i}).toDispatch();
    }
    static void Type(const Dispatch& document, const std::wstring& text) {
        document.call(L"Range").toDispatch().put(L"Text", text);
    }

    MessageFilterRegistration filter;  // as orvelle.exe registers it
    StandIn::Session session;
    fs::path backups;
};

TEST_F(LastMomentTest, EveryCloseOfAChangedDocumentKeepsWhatWasTypedSinceTheRun) {
    ShellRecorder shell{rec.shell};
    auto word = StandIn::StartUserWord({session.folder().write(L"A.txt", L"a"), session.folder().write(L"B.txt", L"b"),
                                        session.folder().write(L"C.txt", L"c"), session.folder().write(L"D.txt", L"d")});
    Form1& f = LoadWithRealRun();
    f.PushButton2_Click();
    ASSERT_EQ(Calls(L"ApplicationEvents.Advise"), 1);
    const HWND control = FindTopLevel(word.pid, standin::kWindowClass);
    const auto gone = [&](int count) {
        return PumpUntil([&] { return Dispatch::GetActive(L"Word.Application").get(L"Documents").toDispatch()
                                          .get(L"Count").toLong() == count; });
    };
    // "Don't Save" through automation, then as the user; the saved C gets nothing.
    Type(Document(1), L"a typed after the run");
    Document(1).call(L"Close", {false});
    EXPECT_EQ(Newest(L"A.txt"), L"a typed after the run");
    Type(Document(1), L"b typed after the run");
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerDontSave);
    ASSERT_TRUE(gone(2));
    EXPECT_EQ(Newest(L"B.txt"), L"b typed after the run");
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerDontSave);
    ASSERT_TRUE(gone(1));
    EXPECT_EQ(BackupsOf(L"C.txt"), 1);
    // D's close is cancelled at Word's question: the next run tells of A and B only.
    Type(Document(1), L"d typed");
    PostMessageW(control, standin::kUserCloseMessage, 1, standin::kAnswerCancel);
    ASSERT_TRUE(PumpUntil([&] { return Calls(L"ApplicationEvents.DocumentBeforeClose") == 4; }));
    const int balloons = shell.count(NIM_MODIFY, NIF_INFO);
    f.PushButton2_Click();
    ASSERT_EQ(shell.count(NIM_MODIFY, NIF_INFO), balloons + 1);
    EXPECT_EQ(shell.calls.back().info.rfind("Word closed 2 documents", 0), 0u) << shell.calls.back().info;
    EXPECT_TRUE(rec.boxes.empty());

    // Off, Orvelle stops listening and does not listen again.
    f.Check12.setValue(false);
    EXPECT_EQ(Calls(L"ApplicationEvents.Unadvise"), 1);
    f.PushButton2_Click();
    EXPECT_EQ(Calls(L"ApplicationEvents.Advise"), 1);
    EXPECT_EQ(SettingsSnapshot::Texts()[L"Last Moment"], L"Off");
}

TEST_F(LastMomentTest, QuitBacksUpEachChangedDocument) {
    StandIn::StartUserWord({session.folder().write(L"A.txt", L"a"), session.folder().write(L"B.txt", L"b")});
    Form1& f = LoadWithRealRun();
    f.PushButton2_Click();
    Type(Document(1), L"a at the quit");
    Type(Document(2), L"b at the quit");
    Dispatch::GetActive(L"Word.Application").call(L"Quit");
    EXPECT_EQ(Newest(L"A.txt"), L"a at the quit");
    EXPECT_EQ(Newest(L"B.txt"), L"b at the quit");
}

// Sign-out and sleep: Windows sends the message from another thread and
// waits 5 s (2 s before sleep) for the answer.
TEST_F(LastMomentTest, EndOfSessionAndSleepBackUpEveryChangedDocumentInTime) {
    const struct {
        UINT message;
        WPARAM wParam;
        Millis within;
    } kCases[] = {{WM_QUERYENDSESSION, 0, Millis(5000)}, {WM_POWERBROADCAST, PBT_APMSUSPEND, Millis(2000)}};
    StandIn::StartUserWord({session.folder().write(L"A.txt", L"a"), session.folder().write(L"B.txt", L"b")});
    StandIn::StartUserWord({}, {L"Notes"});
    Form1& f = LoadWithRealRun();
    f.PushButton2_Click();
    ASSERT_EQ(Calls(L"ApplicationEvents.Advise"), 2);
    std::vector<Dispatch> documents;
    for (const HWND window : {FindWindowW(standin::kDocumentWindowClass, L"A.txt - Word"),
                              FindWindowW(standin::kDocumentWindowClass, L"B.txt - Word"),
                              FindWindowW(standin::kDocumentWindowClass, L"Notes - Word")}) {
        ComPtr<IDispatch> pane;
        HWND g = FindWindowExW(FindWindowExW(FindWindowExW(window, nullptr, L"_WwF", nullptr), nullptr, L"_WwB", nullptr),
                               nullptr, standin::kDocumentPaneClass, nullptr);
        ASSERT_EQ(AccessibleObjectFromWindow(g, static_cast<DWORD>(OBJID_NATIVEOM), IID_IDispatch,
                                             reinterpret_cast<void**>(pane.GetAddressOf())), S_OK);
        documents.push_back(Dispatch(pane).get(L"Document").toDispatch());
    }
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.message);
        std::vector<std::wstring> typed, kept;
        for (const Dispatch& document : documents) {
            typed.push_back(document.get(L"Name").toText() + L" at " + std::to_wstring(c.message));
            Type(document, typed.back());
        }
        std::atomic<bool> answered{false};
        Millis took{};
        LRESULT answer = 0;
        Thread windows([&] {
            const auto start = MonotonicClock::now();
            answer = SendMessageW(f.hwnd(), c.message, c.wParam, 0);
            took = std::chrono::duration_cast<Millis>(MonotonicClock::now() - start);
            for (const wchar_t* name : {L"A.txt", L"B.txt", L"Notes"}) kept.push_back(Newest(name));
            answered = true;
        });
        ASSERT_TRUE(PumpUntil([&] { return answered.load(); }, std::chrono::seconds(30)));
        windows.join();
        EXPECT_EQ(answer, TRUE);
        EXPECT_EQ(kept, typed);
        EXPECT_LT(took, c.within);
    }
    // A Word that never answers: the answer still comes in time.
    StandIn::SetFault(L"hung", {.member = L"Application.Documents", .action = L"slow", .milliseconds = 60000, .times = 1});
    std::atomic<bool> answered{false};
    Millis took{};
    Thread windows([&] {
        const auto start = MonotonicClock::now();
        SendMessageW(f.hwnd(), WM_QUERYENDSESSION, 0, 0);
        took = std::chrono::duration_cast<Millis>(MonotonicClock::now() - start);
        answered = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return answered.load(); }, std::chrono::seconds(30)));
    EXPECT_LT(took, Millis(5000));
}
