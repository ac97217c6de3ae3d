// orvelle.exe's wide printf (src/mainwindow/WideFormat.cpp), linked into
// this test as into the program.
#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <string>

TEST(WideFormat, NumbersAreFormattedAsTheStandardHasIt) {
    EXPECT_EQ(std::to_wstring(INT_MIN), L"-2147483648");
    EXPECT_EQ(std::to_wstring(4294967295UL), L"4294967295");
    EXPECT_EQ(std::to_wstring(LLONG_MIN), L"-9223372036854775808");
    EXPECT_EQ(std::to_wstring(ULLONG_MAX), L"18446744073709551615");
    EXPECT_EQ(std::to_wstring(2.5), L"2.500000");
    wchar_t text[9];
    EXPECT_EQ(swprintf(text, 9, L"%08X", 0xBEEFu), 8);
    EXPECT_STREQ(text, L"0000BEEF");
    // Too long: ended at the buffer's end, and the whole length answered.
    EXPECT_EQ(swprintf(text, 4, L"%zu%% z%lld", size_t{12345}, 6LL), 9);  // "12345% z6"
    EXPECT_STREQ(text, L"123");
}
