#include "common/Failure.h"
#include "shell/cSysTray.h"
#include "shell/RegStuff.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

std::string Field(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

bool ZeroFrom(const char* field, size_t from, size_t width) {
    for (size_t i = from; i < width; ++i)
        if (field[i] != 0) return false;
    return true;
}

const HWND kWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234567));
const HICON kIcon = reinterpret_cast<HICON>(static_cast<uintptr_t>(0xABCDEF));

}  // namespace

TEST(TrayRecord, SetsOnlyTheFieldsOfItsFlags) {
    // Delete: nothing but the address (window and id) in a record of the
    // version 2 size.
    NOTIFYICONDATAA bare = BuildTrayRecord(kWindow, 7, {.icon = kIcon, .tip = L"tip"});
    EXPECT_EQ(bare.cbSize, kTrayRecordSize);
    EXPECT_EQ(bare.hWnd, kWindow);
    EXPECT_EQ(bare.uID, 7u);
    NOTIFYICONDATAA zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(reinterpret_cast<char*>(&bare) + offsetof(NOTIFYICONDATAA, uFlags),
                          reinterpret_cast<char*>(&zero) + offsetof(NOTIFYICONDATAA, uFlags),
                          kTrayRecordSize - offsetof(NOTIFYICONDATAA, uFlags)),
              0);

    NOTIFYICONDATAA add =
        BuildTrayRecord(kWindow, 0, {.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP, .icon = kIcon, .tip = L"Orvelle"});
    EXPECT_EQ(add.uFlags, 7u);
    EXPECT_EQ(add.uCallbackMessage, 1125u);
    EXPECT_EQ(add.hIcon, kIcon);
    EXPECT_EQ(Field(add.szTip, 128), "Orvelle");
    EXPECT_TRUE(ZeroFrom(add.szInfo, 0, 256));
    EXPECT_EQ(add.uTimeout, 0u);

    // A balloon: the wide record, its whole documented size, no standard
    // balloon icon, no state, no tip.
    NOTIFYICONDATAW balloon = BuildBalloonRecord(kWindow, 3, L"Отчёт.docx 报告.docx", L"Orvelle", 5000);
    EXPECT_EQ(balloon.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(balloon.hWnd, kWindow);
    EXPECT_EQ(balloon.uID, 3u);
    EXPECT_EQ(balloon.uFlags, 16u);
    EXPECT_EQ(balloon.uCallbackMessage, 0u);
    EXPECT_EQ(balloon.hIcon, nullptr);
    EXPECT_EQ(balloon.szTip[0], 0);
    EXPECT_EQ(std::wstring(balloon.szInfo), L"Отчёт.docx 报告.docx");
    EXPECT_EQ(std::wstring(balloon.szInfoTitle), L"Orvelle");
    EXPECT_EQ(balloon.uTimeout, 5000u);
    EXPECT_EQ(balloon.dwInfoFlags, 0u);
    EXPECT_EQ(balloon.dwState, 0u);
    EXPECT_EQ(balloon.dwStateMask, 0u);
}

TEST(TrayRecord, CutsTextsSoThatTheNulStillFits) {
    const std::wstring longText(400, L'x');
    NOTIFYICONDATAA r = BuildTrayRecord(kWindow, 0, {.flags = NIF_TIP, .tip = longText});
    EXPECT_EQ(Field(r.szTip, 128), std::string(127, 'x'));
    EXPECT_EQ(r.szTip[127], 0);
    NOTIFYICONDATAW w = BuildBalloonRecord(kWindow, 0, longText, longText, 0);
    EXPECT_EQ(std::wstring(w.szInfo), std::wstring(255, L'x'));
    EXPECT_EQ(std::wstring(w.szInfoTitle), std::wstring(63, L'x'));
    // A character outside the BMP is never cut in half.
    const std::wstring clef = std::wstring(62, L'x') + L"\U0001D11E";
    EXPECT_EQ(std::wstring(BuildBalloonRecord(kWindow, 0, L"", clef, 0).szInfoTitle), std::wstring(62, L'x'));

    // Exactly the width minus one stays whole; the rest of a field is zero.
    NOTIFYICONDATAA fit = BuildTrayRecord(kWindow, 0, {.flags = NIF_TIP, .tip = std::wstring(127, L'y')});
    EXPECT_EQ(Field(fit.szTip, 128), std::string(127, 'y'));
    NOTIFYICONDATAA shortTip = BuildTrayRecord(kWindow, 0, {.flags = NIF_TIP, .tip = L"ab"});
    EXPECT_TRUE(ZeroFrom(shortTip.szTip, 2, 128));
}

TEST(TrayRecord, WritesTextsInTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u);
    NOTIFYICONDATAA r = BuildTrayRecord(kWindow, 0, {.flags = NIF_TIP, .tip = L"Gr\u00fc\u00dfe \u20ac \u4e2d"});
    // ü ß and € have bytes of their own in 1252; a character outside it becomes '?'.
    EXPECT_EQ(Field(r.szTip, 128),
              std::string("Gr\xfc\xdf") + "e \x80 ?");
}

TEST(BalloonTimeout, IsSecondsTimesAThousandInThirtyTwoBits) {
    EXPECT_EQ(BalloonTimeout(5), 5000u);
    EXPECT_EQ(BalloonTimeout(1), 1000u);
    EXPECT_EQ(BalloonTimeout(2147483), 2147483000u);
    EXPECT_EQ(BalloonTimeout(0), 0u);
    EXPECT_EQ(BalloonTimeout(-1), 0u);
    EXPECT_EQ(BalloonTimeout(-2147483), 0u);
    for (long seconds : {2147484L, -2147484L, 2147483647L, -2147483647L - 1}) {
        try {
            BalloonTimeout(seconds);
            ADD_FAILURE() << seconds << " did not overflow";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 6);
            EXPECT_EQ(f.description(), L"Overflow");
        }
    }
}

TEST(RunEntryData, QuotesTheFullPathWithOneBackslash) {
    EXPECT_EQ(RunEntryData(L"C:\\Program Files\\Orvelle", L"orvelle.exe"),
              L"\"C:\\Program Files\\Orvelle\\orvelle.exe\"");
    EXPECT_EQ(RunEntryData(L"D:\\", L"orvelle.exe"), L"\"D:\\orvelle.exe\"");
    EXPECT_EQ(RunEntryData(L"\\\\server\\share\\apps\\", L"o.exe"), L"\"\\\\server\\share\\apps\\o.exe\"");
}
