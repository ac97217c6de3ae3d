#include "common/Guard.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RecordBoxes : TestServices {
    std::vector<std::wstring> texts;
    RecordBoxes() {
        boxes = [this](const MessageBoxRequest& r) { texts.push_back(r.text); return IDOK; };
    }
};

}  // namespace

TEST(Guard, FailingStepIsReportedAndTheNextStepRuns) {
    RecordBoxes boxes;
    std::vector<int> ran;
    Guard guard(L"SaveWord", L"SaveAll");
    guard.step(1, [&] { ran.push_back(1); });
    guard.step(2, [&] { throw Failure::Text(L"first"); ran.push_back(2); });
    guard.step(3, [&] { ran.push_back(3); });
    guard.step(4, [&] { throw Failure::TypeMismatch(); });
    guard.step(5, [&] { ran.push_back(5); });

    EXPECT_EQ(ran, (std::vector<int>{1, 3, 5}));
    ASSERT_EQ(boxes.texts.size(), 2u);  // two failures, two boxes, in order
    EXPECT_EQ(boxes.texts[0].substr(0, 7), L"first\r\n");
    // The location is built from module and routine.
    EXPECT_NE(boxes.texts[0].find(L"\r\nin Quillbay2021/08/31.SaveWord.SaveAll at line 2\r\r"), std::wstring::npos);
    EXPECT_EQ(boxes.texts[1].substr(0, 15), L"Type mismatch\r\n");
    EXPECT_NE(boxes.texts[1].find(L"SaveAll at line 4\r\r"), std::wstring::npos);
}

TEST(Guard, FailingTestTakesTheBranchAsIfItHeld) {
    RecordBoxes boxes;
    Guard guard(L"Form1", L"Form_Load");
    EXPECT_TRUE(guard.test(7, []() -> bool { throw Failure::Overflow(); }));
    EXPECT_FALSE(guard.test(8, [] { return false; }));
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find(L"Form_Load at line 7\r\r"), std::wstring::npos);
}

TEST(Guard, ValueStepLeavesTheResultUnsetAfterAFailure) {
    RecordBoxes boxes;
    Guard guard(L"SaveWord", L"GetWordVersion");
    EXPECT_EQ(guard.value(3, [] { return 16.0; }), 16.0);
    EXPECT_FALSE(guard.value(3, []() -> double { throw Failure::TypeMismatch(); }).has_value());
    EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST(Guard, QuietModeSwallowsAndRemembersTheLastFailure) {
    RecordBoxes boxes;
    Guard quiet = Guard::Quiet();
    int after = 0;
    quiet.step(1, [] { throw Failure(53, L"File not found"); });
    quiet.step(2, [&] { after = 2; });
    EXPECT_TRUE(quiet.test(3, []() -> bool { throw Failure::Text(L"x"); }));
    EXPECT_EQ(after, 2);
    ASSERT_TRUE(quiet.lastFailure());
    EXPECT_EQ(quiet.lastFailure()->description(), L"x");
    EXPECT_TRUE(boxes.texts.empty());
}

TEST(Guard, StandardExceptionsBecomeFailuresWithTheirText) {
    RecordBoxes boxes;
    Guard guard(L"Form1", L"PushButton11_Click");
    guard.step(1, [] { throw std::runtime_error("disk full"); });
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].substr(0, 11), L"disk full\r\n");
}
