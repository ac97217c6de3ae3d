// How stored setting texts are read as numbers.
#include "common/Failure.h"
#include "mainwindow/Settings.h"

#include <gtest/gtest.h>

TEST(LeadingNumber, ReadsTheNumberAtTheStartLikeVal) {
    EXPECT_EQ(LeadingNumber(L"2.0"), 2);
    EXPECT_EQ(LeadingNumber(L"2 "), 2);
    EXPECT_EQ(LeadingNumber(L" \t2"), 2);
    EXPECT_EQ(LeadingNumber(L"1 2"), 12) << "blanks inside are skipped";
    EXPECT_EQ(LeadingNumber(L"2x"), 2);
    EXPECT_EQ(LeadingNumber(L"2,5"), 2) << "the point is always '.'";
    EXPECT_EQ(LeadingNumber(L".5"), 0.5);
    EXPECT_EQ(LeadingNumber(L"-1"), -1);
    EXPECT_EQ(LeadingNumber(L"1e1"), 10);
    EXPECT_EQ(LeadingNumber(L"2e"), 2);
    EXPECT_EQ(LeadingNumber(L"&H10"), 16);
    EXPECT_EQ(LeadingNumber(L"&HFFFF"), -1);
    EXPECT_EQ(LeadingNumber(L"&O17"), 15);
    EXPECT_EQ(LeadingNumber(L"a"), 0);
    EXPECT_EQ(LeadingNumber(L""), 0);
    EXPECT_EQ(LeadingNumber(L"-"), 0);
    EXPECT_EQ(LeadingNumber(L"."), 0);
}

TEST(ToInteger16, ConvertsStrictly) {
    EXPECT_EQ(ToInteger16(L"3"), 3);
    EXPECT_EQ(ToInteger16(L" 3 "), 3);
    EXPECT_EQ(ToInteger16(L"-32768"), -32768);
    EXPECT_EQ(ToInteger16(L"32767"), 32767);
    EXPECT_EQ(ToInteger16(L"2.5"), 2) << "half to even";
    EXPECT_EQ(ToInteger16(L"3.5"), 4);
    for (const wchar_t* text : {L"abc", L"", L"3x", L"x3"}) {
        try {
            ToInteger16(text);
            ADD_FAILURE() << "no failure for " << testing::PrintToString(std::wstring(text));
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), 13);
            EXPECT_EQ(failure.description(), L"Type mismatch");
        }
    }
    for (const wchar_t* text : {L"32768", L"-32769", L"99999999999"}) {
        try {
            ToInteger16(text);
            ADD_FAILURE() << "no failure for " << testing::PrintToString(std::wstring(text));
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), 6);
            EXPECT_EQ(failure.description(), L"Overflow");
        }
    }
}
