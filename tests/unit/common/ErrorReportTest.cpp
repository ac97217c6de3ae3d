#include "common/ErrorReport.h"
#include "common/Product.h"
#include "support/TestServices.h"
#include "support/Thread.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ErrorReport, TextIsAssembledByteForByte) {
    EXPECT_EQ(BuildErrorReport(L"in Quillbay2021/08/31.SaveWord.SaveAll ", 14, L"The file could not be found."),
              L"The file could not be found.\r\n"
              L"in Quillbay2021/08/31.SaveWord.SaveAll at line 14\r\r"
              L"Please email screenshot of this message to support@orvelle.example");
    // No numbered step yet, and an empty description.
    EXPECT_EQ(BuildErrorReport(L"in Quillbay2021/08/31.Form1.Form_Load ", 0, L""),
              L"\r\nin Quillbay2021/08/31.Form1.Form_Load at line 0\r\r"
              L"Please email screenshot of this message to support@orvelle.example");
}

TEST(ErrorReport, ShowsWarningBoxWithFixedCaptionAndNoNumber) {
    std::vector<MessageBoxRequest> shown;
    TestServices services;
    services.boxes = [&](const MessageBoxRequest& r) { shown.push_back(r); return IDOK; };
    ReportError(L"in Quillbay2021/08/31.Form1.Timer1_Timer ", 3, Failure(-2147352567, L"Word said no"));

    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, L"Application Error");
    EXPECT_EQ(shown[0].style, 48u);
    EXPECT_EQ(shown[0].text.substr(0, 14), L"Word said no\r\n");
    EXPECT_EQ(shown[0].text.find(L"2147352567"), std::wstring::npos);
}

TEST(ErrorReport, RealBoxIsShownAndCanBeAnswered) {
    // Answer the real box from another thread, the way a person would.
    std::wstring seenText;
    Thread answerer([&] {
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = FindWindowW(L"#32770", L"Application Error")) != nullptr; },
                     std::chrono::seconds(10), Millis(50)))
            return;
        seenText = TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    });
    ReportError(L"in Quillbay2021/08/31.Form1.PushButton3_Click ", 1, Failure::Text(L"Real box"));
    answerer.join();
    EXPECT_NE(seenText.find(L"Real box"), std::wstring::npos);
    EXPECT_NE(seenText.find(L"PushButton3_Click at line 1"), std::wstring::npos);
}

TEST(ErrorReport, EveryCodeOfAServerGoneIsKnownAndSaidAlike) {
    for (HRESULT hr : {RPC_E_DISCONNECTED, RPC_E_SERVER_DIED, RPC_E_SERVER_DIED_DNE,
                       HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), HRESULT_FROM_WIN32(RPC_S_CALL_FAILED),
                       HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE)}) {
        const Failure failure = Failure::FromHresult(hr);
        EXPECT_TRUE(IsServerGone(failure)) << std::hex << hr;
        EXPECT_EQ(failure.description(), L"The automation server is no longer available; it may have stopped or crashed.")
            << std::hex << hr;
    }
    EXPECT_FALSE(IsServerGone(Failure::FromHresult(RPC_E_CALL_REJECTED)));
}
