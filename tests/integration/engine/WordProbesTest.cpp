// The Word probes and the automation client against the stand-in.
#include "common/Automation.h"
#include "common/MessagePump.h"
#include "engine/WordProbes.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
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

    ComApartment com;
    StandIn::Session session;
    TestServices services;
    std::vector<MessageBoxRequest> boxes;
};

constexpr wchar_t kVersionLocation[] = L"in Quillbay2021/08/31.SaveWord.GetWordVersion ";

}  // namespace

TEST_F(WordProbes, AvailableWordIsCreatedAndQuitSilently) {
    EXPECT_TRUE(CheckWordAvailable());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(createdCount(), 1);
    EXPECT_TRUE(quitOnce());
    for (DWORD pid : StandIn::RunningStandIns()) EXPECT_TRUE(StandIn::WaitForExit(pid, 10000));
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
    EXPECT_EQ(createdCount(), 4);
}

TEST_F(WordProbes, MalformedVersionIsReportedAndGivesZero) {
    StandIn::SetVersion(L"16.0.1");
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Application Error");
    EXPECT_EQ(boxes[0].style, 48u);
    EXPECT_EQ(boxes[0].text.substr(0, boxes[0].text.find(L"\r\n")), L"Type mismatch");
    EXPECT_NE(boxes[0].text.find(std::wstring(kVersionLocation) + L"at line 3\r\r"), std::wstring::npos);
    EXPECT_TRUE(quitOnce());  // the instance is still told to quit
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
    SetBusyRetryBound(std::chrono::seconds(20));
    StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy", .times = 3});
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(StandIn::FaultSeen(L"busy"), 4u);  // three refusals, then the answer
}

TEST_F(WordProbes, BusyServerBeyondTheBoundFailsWithAClearDescription) {
    SetBusyRetryBound(std::chrono::seconds(2));
    StandIn::SetFault(L"busy", {.member = L"Version", .action = L"busy"});
    EXPECT_EQ(GetWordVersion(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.substr(0, boxes[0].text.find(L"\r\n")),
              L"The automation server is busy and did not accept the call in time.");
    EXPECT_GE(StandIn::FaultSeen(L"busy"), 2u);  // retried, not failed at the first refusal
}

TEST_F(WordProbes, RejectedCallsAreRetriedToo) {
    SetBusyRetryBound(std::chrono::seconds(20));
    StandIn::SetFault(L"reject", {.member = L"*", .action = L"reject", .call = 2, .times = 2});
    EXPECT_EQ(GetWordVersion(), 16);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WordProbes, ServerThatDiesMidCallEndsTheCallWithoutHanging) {
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
    std::thread poster([&] {
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
