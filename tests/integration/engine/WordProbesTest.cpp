// The Word probes and the automation client against the stand-in.
#include "common/Automation.h"
#include "common/MessagePump.h"
#include "common/Text.h"
#include "engine/WordProbes.h"
#include "engine/WordRegistration.h"
#include "support/ComApartment.h"
#include "support/Registry.h"
#include "support/StandIn.h"
#include "support/TestServices.h"
#include "support/Thread.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

namespace {

class WordProbes : public ::testing::Test {
protected:
    WordProbes() {
        services.boxes = [this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDOK;
        };
    }
    ~WordProbes() override {
        SetBusyRetryBound(std::chrono::seconds(30));
    }
    int createdCount() const {
        int n = 0;
        for (auto& c : session.calls()) n += c.member == L"ClassFactory.CreateInstance";
        return n;
    }
    bool quitOnce() const {
        int n = 0;
        for (auto& c : session.calls()) n += c.member == L"Application.Quit";
        return n == 1;
    }

    // The stand-in's registration, in both hives as it writes it (Wine's COM
    // reads the machine's only); nullopt removes the key.
    static void SetClassKey(const std::wstring& key, const std::optional<std::wstring>& value) {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            value ? reg::SetString(root, L"Software\\Classes\\" + key, L"", *value)
                  : reg::DeleteTree(root, L"Software\\Classes\\" + key);
    }
    static void SetServer(const std::wstring& line) {
        SetClassKey(L"CLSID\\{2D67EDBC-E807-4AC6-BF7B-1F407235F1D3}\\LocalServer32", line);
    }
    static void SetCurVer(const std::optional<std::wstring>& curVer) { SetClassKey(L"Word.Application\\CurVer", curVer); }
    // A registration that tells nothing (a bare name, which COM finds beside
    // the test): the version comes from an instance.
    static void AskAnInstance() { SetServer(L"word-standin.exe"), SetCurVer(std::nullopt); }

    ComApartment com;
    StandIn::Session session;
    TestServices services;
    std::vector<MessageBoxRequest> boxes;
};

constexpr wchar_t kVersionLocation[] = L"in Quillbay2021/08/31.SaveWord.GetWordVersion ";

}  // namespace

// The active object, or any other Word of the user's: one a program started
// that the user was then shown is reached through its document window.
TEST_F(WordProbes, RunningWordAnswersWithoutAnInstanceOfOurs) {
    for (bool active : {true, false}) {
        SCOPED_TRACE(active ? "the active object" : "a program's Word, shown");
        StandIn::KillAllStandIns();
        StandIn::ClearFaults();
        const std::wstring file = session.folder().write(L"A.txt", L"a");
        auto word = active ? StandIn::StartUserWord() : StandIn::StartHiddenWord({file});
        if (!active) {
            EXPECT_FALSE(IsWordRunning()) << "a Word that shows nothing is the program's";
            // The user is shown it: through its document's window.
            HWND pane = FindTopLevel(word.pid, L"OpusApp");
            for (const wchar_t* kind : {L"_WwF", L"_WwB", L"_WwG"}) pane = FindWindowExW(pane, nullptr, kind, nullptr);
            Microsoft::WRL::ComPtr<IDispatch> window;
            ASSERT_EQ(AccessibleObjectFromWindow(pane, static_cast<DWORD>(OBJID_NATIVEOM), IID_IDispatch,
                                                 reinterpret_cast<void**>(window.GetAddressOf())),
                      S_OK);
            Dispatch(window).get(L"Application").toDispatch().put(L"Visible", true);
        }
        EXPECT_TRUE(IsWordRunning());
        StandIn::SetVersion(L"11.0");  // the registration says 16
        EXPECT_TRUE(CheckWordAvailable());
        EXPECT_EQ(GetWordVersion(), 11);
        // One of its dialogs open: not waited for, the registration answers.
        StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy"});
        EXPECT_EQ(GetWordVersion(), 16);
        EXPECT_EQ(StandIn::FaultSeen(L"busy"), 1u);
        EXPECT_EQ(BusyRetryBound(), std::chrono::seconds(30));  // the run's bound is back
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(createdCount(), 0);
    for (auto& c : session.calls()) EXPECT_NE(c.member, L"Application.Quit");
}

TEST_F(WordProbes, RegisteredWordAnswersFromItsRegistration) {
    StandIn::SetVersion(L"12.5");  // what an instance would say: none may be created
    struct Case {
        std::optional<std::wstring> curVer;
        double version;  // else the server's version resource: 16
    } cases[] = {{L"Word.Application.16", 16}, {L"Word.Application.11", 11}, {L"word.application.12", 12},
                 {std::nullopt, 16},           {L"Word.Application", 16},    {L"Word.Application.x", 16},
                 {L"Excel.Application.11", 16}};
    for (const auto& c : cases) {
        SetCurVer(c.curVer);
        EXPECT_TRUE(CheckWordAvailable());
        EXPECT_EQ(GetWordVersion(), c.version) << (c.curVer ? ToUtf8(*c.curVer) : "no CurVer");
    }
    // The server named as Word names it: unquoted, with an argument.
    SetServer(StandIn::ExePath() + L" /Automation");
    SetCurVer(std::nullopt);
    EXPECT_TRUE(CheckWordAvailable());
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(createdCount(), 0);
}

TEST_F(WordProbes, ServerProgramIsReadAsCreateProcessReadsIt) {
    const ScratchFolder& folder = session.folder();
    CreateDirectoryW(folder.file(L"Microsoft Office").c_str(), nullptr);
    const std::wstring word = folder.write(L"Microsoft Office\\WINWORD.EXE", L"");
    struct Case {
        std::wstring line, program;
    } cases[] = {{L"\"" + word + L"\" /Automation", word}, {word + L" /Automation", word}, {L"  " + word, word},
                 // No full path: where COM looks is not ours to guess.
                 {L"WINWORD.EXE /Automation", L""}, {folder.file(L"Microsoft Office\\MISSING.EXE"), L""},
                 {L"\"" + folder.file(L"Microsoft Office") + L"\"", L""}, {L"\"" + word, L""}, {L"", L""}};
    for (const auto& c : cases) EXPECT_EQ(ServerProgram(c.line), c.program) << ToUtf8(c.line);
}

TEST_F(WordProbes, RegistrationNamingAMissingProgramMeansNoWord) {
    SetServer(L"C:\\Program Files\\Microsoft Office\\Root\\Office16\\WINWORD.EXE /Automation");
    EXPECT_FALSE(CheckWordAvailable());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kWordUnavailableMessage);
    EXPECT_EQ(StandIn::CountRunningStandIns(), 0);
}

TEST_F(WordProbes, UnconfirmedRegistrationAsksAnInstanceThatKeepsAUsersDocument) {
    AskAnInstance();
    EXPECT_TRUE(CheckWordAvailable());
    EXPECT_TRUE(quitOnce());
    // The user opens a document from Explorer into the next one.
    StandIn::SetFault(L"open", {.member = L"ClassFactory.CreateInstance",
                                .action = L"open",
                                .file = session.folder().write(L"Letter.txt", L"Dear")});
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(createdCount(), 2);
    EXPECT_TRUE(quitOnce());  // the first only: the second is shown and left to the user
    int shown = 0;
    for (auto& c : session.calls()) shown += c.member == L"Application.Visible" && c.args == L"= Boolean True";
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(WaitFor([] { return StandIn::CountRunningStandIns() == 1; }, std::chrono::seconds(10)));
}

TEST_F(WordProbes, UnregisteredWordShowsTheFiveParagraphsUnderTheApplicationTitle) {
    StandIn::Unregister();
    EXPECT_FALSE(CheckWordAvailable());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Orvelle");
    EXPECT_EQ(boxes[0].style, 0u);
    EXPECT_EQ(boxes[0].text,
              L"Error 842001. A normal instance of Word could not be created.\r\n\r\n"
              L"1. Please make sure Word is installed on this computer.\r\n\r\n"
              L"2. Please open Word normally and make sure a blank document opens immediately without any "
              L"interrupting window (such as an Word file recovery window).\r\n\r\n"
              L"3. Please make sure that when you double-click on a DOC or DOCX file that Word opens normally "
              L"without any interrupting messages.\r\n\r\n"
              L"4. All versions of Word are supported by this software except for the rare Word Starter and "
              L"Student editions.");
    // Without Word the version probe reports and answers 0.
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].text.find(L"\r\nin Quillbay2021/08/31.SaveWord.GetWordVersion at line 1\r\r"),
              std::wstring::npos);
}

TEST_F(WordProbes, VersionTextsAndTheirExtensions) {
    auto word = StandIn::StartUserWord();
    struct Case {
        const wchar_t* text;
        double version;
        const wchar_t* extension;
    } cases[] = {{L"16.0", 16, L".docx"}, {L"11.0", 11, L".doc"}, {L"12.0", 12, L".docx"}, {L"16,0", 16, L".docx"}};
    for (const auto& c : cases) {
        StandIn::SetVersion(c.text);
        double version = GetWordVersion();
        EXPECT_EQ(version, c.version) << c.text;
        EXPECT_EQ(DocExtensionFor(version), c.extension) << c.text;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WordProbes, MalformedVersionIsReportedAndGivesZero) {
    auto word = StandIn::StartUserWord();
    StandIn::SetVersion(L"16.0.1");
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Application Error");
    EXPECT_EQ(boxes[0].style, 48u);
    EXPECT_EQ(boxes[0].text.substr(0, boxes[0].text.find(L"\r\n")), L"Type mismatch");
    EXPECT_NE(boxes[0].text.find(std::wstring(kVersionLocation) + L"at line 3\r\r"), std::wstring::npos);
}

TEST_F(WordProbes, RunningWordIsRecognisedByItsExactName) {
    EXPECT_FALSE(IsWordRunning());  // registered, but nothing running
    auto word = StandIn::StartUserWord();
    EXPECT_TRUE(IsWordRunning());
    StandIn::SetAppName(L"microsoft word");
    EXPECT_FALSE(IsWordRunning());
    StandIn::SetAppName(L"Microsoft Word ");
    EXPECT_FALSE(IsWordRunning());
    EXPECT_TRUE(boxes.empty());
    // The user's Word is never told to quit.
    EXPECT_EQ(WaitForSingleObject(word.process.get(), 0), WAIT_TIMEOUT);
    for (auto& c : session.calls()) EXPECT_NE(c.member, L"Application.Quit");
}

TEST_F(WordProbes, BusyServerThatRecoversWithinTheBoundAnswers) {
    AskAnInstance();
    SetBusyRetryBound(std::chrono::seconds(20));
    StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy", .times = 3});
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(StandIn::FaultSeen(L"busy"), 4u);  // three refusals, then the answer
}

TEST_F(WordProbes, BusyServerBeyondTheBoundFailsWithAClearDescription) {
    AskAnInstance();
    SetBusyRetryBound(std::chrono::seconds(2));
    StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy"});
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.substr(0, boxes[0].text.find(L"\r\n")),
              L"The automation server is busy and did not accept the call in time.");
    EXPECT_GE(StandIn::FaultSeen(L"busy"), 2u);  // retried, not failed at the first refusal
}

TEST_F(WordProbes, RejectedCallsAreRetriedToo) {
    AskAnInstance();
    SetBusyRetryBound(std::chrono::seconds(20));
    StandIn::SetFault(L"reject", {.member = L"*", .action = L"reject", .call = 2, .times = 2});
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WordProbes, ServerThatDiesMidCallEndsTheCallWithoutHanging) {
    AskAnInstance();
    StandIn::SetFault(L"die", {.member = L"Version", .action = L"die"});
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.substr(0, boxes[0].text.find(L"\r\n")),
              L"The automation server is no longer available; it may have stopped or crashed.");
    EXPECT_NE(boxes[0].text.find(std::wstring(kVersionLocation) + L"at line 3\r\r"), std::wstring::npos);
}

TEST_F(WordProbes, WindowMessagesKeepFlowingWhileABusyServerIsRetried) {
    // Under Wine the modal loop of a plain outgoing call dispatches none of
    // the thread's own messages, so only the retry wait is checked here.
    MessageFilterRegistration filter;  // as the program's GUI thread has it
    auto word = StandIn::StartUserWord();
    static int arrived = 0;
    arrived = 0;
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP) ++arrived;
        return DefWindowProcW(w, m, wp, lp);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvelleProbeListener";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    // Another program keeps posting to the window while the call waits.
    std::atomic<bool> stop{false};
    Thread poster([&] {
        while (!stop) {
            PostMessageW(window, WM_APP, 0, 0);
            Sleep(50);
        }
    });
    StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy", .times = 5});
    ProcessPendingMessages();
    arrived = 0;
    EXPECT_EQ(Dispatch::GetActive(kWordProgId).get(L"Version").toText(), L"16.0");
    int duringRetries = arrived;
    stop = true;
    poster.join();
    DestroyWindow(window);
    EXPECT_GT(duringRetries, 0);
}
