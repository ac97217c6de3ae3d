// The stand-in's fault switches and its call log.
#include "StandInFixture.h"

#include "common/Text.h"

#include <gmock/gmock.h>

#include <algorithm>

using ::testing::HasSubstr;

TEST_F(StandInTest, AnotherNameOrVersionIsAnsweredFromTheNextCallOn) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    StandIn::SetAppName(L"Microsoft Excel");
    StandIn::SetVersion(L"11.0");
    EXPECT_EQ(app.getDefault().toText(), L"Microsoft Excel");
    EXPECT_EQ(app.get(L"Name").toText(), L"Microsoft Excel");
    EXPECT_EQ(app.get(L"Version").toText(), L"11.0");
    StandIn::SetVersion(L"16.0.1");
    EXPECT_EQ(app.get(L"Version").toText(), L"16.0.1");
    StandIn::ClearFaults();
    EXPECT_EQ(app.getDefault().toText(), L"Microsoft Word");
    EXPECT_EQ(app.get(L"Version").toText(), L"16.0");
}

TEST_F(StandInTest, AFailingMemberFailsOnlyForItsCallsDocumentsAndRole) {
    auto word = StandIn::StartUserWord({}, {L"A", L"B"});
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    Dispatch created = Dispatch::Create(L"Word.Application");
    Dispatch a = user.get(L"Documents", {1}).toDispatch(), b = user.get(L"Documents", {2}).toDispatch();

    StandIn::SetFault(L"second copy", {.member = L"Range.Copy", .description = L"Copy broke", .call = 2, .times = 1});
    Dispatch range = RangeOf(a);
    EXPECT_NO_THROW(range.call(L"Copy"));
    try {
        range.call(L"Copy");
        ADD_FAILURE() << "the second Copy did not fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.description(), L"Copy broke");
    }
    EXPECT_NO_THROW(range.call(L"Copy"));
    EXPECT_EQ(StandIn::FaultSeen(L"second copy"), 3u);

    StandIn::SetFault(L"only B", {.member = L"Range", .description = L"no range for B", .number = 5000, .document = L"B"});
    EXPECT_NO_THROW(RangeOf(a));
    try {
        RangeOf(b);
        ADD_FAILURE() << "Range of B did not fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<long>(0x800A1388));  // Word error 5000
        EXPECT_EQ(f.description(), L"no range for B");
    }

    StandIn::SetFault(L"user version", {.member = L"Version", .description = L"no version", .role = L"user"});
    EXPECT_THROW(user.get(L"Version"), Failure);
    EXPECT_EQ(created.get(L"Version").toText(), L"16.0");

    StandIn::SetFault(L"no creation", {.member = L"ClassFactory.CreateInstance"});
    EXPECT_THROW(Dispatch::Create(L"Word.Application"), Failure);
}

TEST_F(StandInTest, ABusyServerIsRetriedByTheClientUntilItAnswers) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"busy", {.member = L"Copy", .action = L"busy", .times = 3});
    EXPECT_NO_THROW(range.call(L"Copy"));
    std::vector<std::wstring> outcomes;
    for (auto& c : CallsOf(L"Range.Copy")) outcomes.push_back(c.outcome);
    EXPECT_EQ(outcomes, (std::vector<std::wstring>{L"busy", L"busy", L"busy", L"ok"}));

    // Busy for good: the client gives up at its bound.
    StandIn::SetFault(L"busy", {.member = L"Copy", .action = L"busy"});
    SetBusyRetryBound(std::chrono::milliseconds(300));
    try {
        range.call(L"Copy");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), RPC_E_SERVERCALL_RETRYLATER);
    }
}

TEST_F(StandInTest, ARejectingMessageFilterReachesTheClientAsCallRejected) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"reject", {.member = L"Range.Invoke", .action = L"reject", .times = 2});
    EXPECT_NO_THROW(range.call(L"Copy"));
    EXPECT_EQ(CallsOf(L"Range.Invoke").size(), 2u);
    EXPECT_EQ(CallsOf(L"Range.Invoke")[0].outcome, L"rejected");

    StandIn::SetFault(L"reject", {.member = L"Range.Invoke", .action = L"reject"});
    SetBusyRetryBound(std::chrono::milliseconds(300));
    try {
        range.call(L"Copy");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), RPC_E_CALL_REJECTED);
    }
}

TEST_F(StandInTest, ASlowMemberTakesAtLeastItsTimeInTheCallLog) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"slow", {.member = L"Copy", .action = L"slow", .milliseconds = 400});
    range.call(L"Copy");
    // A bound, not a timing: the sleep alone takes about that long.
    EXPECT_GE(CallsOf(L"Range.Copy").back().microseconds, 350000);
}

TEST_F(StandInTest, AServerThatDiesMidRunFailsTheCallAndIsGone) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    DWORD pid = LastCreatedPid();
    Dispatch range = RangeOf(NewDocument(app));
    StandIn::SetFault(L"die", {.member = L"Copy", .action = L"die", .call = 2});
    range.call(L"Copy");
    try {
        range.call(L"Copy");
        ADD_FAILURE() << "the call survived the server's death";
    } catch (const Failure& f) {
        EXPECT_THAT(f.description(), HasSubstr(L"no longer available"));
    }
    EXPECT_TRUE(StandIn::WaitForExit(pid, 20000));
    EXPECT_EQ(CallsOf(L"Range.Copy").back().outcome, L"died");
    EXPECT_THROW(app.get(L"Version"), Failure);
}

TEST_F(StandInTest, CallLogNamesProcessRoleMemberArgumentsAndTime) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    user.put(L"DisplayAlerts", true);
    user.get(L"Documents").toDispatch().get(L"Count");
    Dispatch created = Dispatch::Create(L"Word.Application");
    created.get(L"Version");

    auto calls = session.calls();
    auto find = [&](const std::wstring& member) {
        auto it = std::find_if(calls.begin(), calls.end(), [&](auto& c) { return c.member == member; });
        EXPECT_NE(it, calls.end()) << "no call of " << ToUtf8(member);
        return it == calls.end() ? StandIn::Call{} : *it;
    };
    StandIn::Call alerts = find(L"Application.DisplayAlerts");
    EXPECT_EQ(alerts.pid, word.pid);
    EXPECT_EQ(alerts.role, L"user");
    EXPECT_EQ(alerts.args, L"= Boolean True");
    EXPECT_EQ(alerts.outcome, L"ok");
    StandIn::Call version = find(L"Application.Version");
    EXPECT_EQ(version.role, L"created");
    EXPECT_NE(version.pid, word.pid);
    EXPECT_EQ(find(L"Documents.Count").pid, word.pid);
}
