#pragma once
// The stand-in's behaviour that later tests rely on, driven through the
// program's own automation client: each test gets a registered stand-in, no
// faults and a fresh call log.
#include "common/Automation.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override { SetBusyRetryBound(std::chrono::seconds(30)); }

    // The process of the instance created last, from its CreateInstance call.
    DWORD LastCreatedPid() const {
        DWORD pid = 0;
        for (const auto& c : session.calls())
            if (c.member == L"ClassFactory.CreateInstance") pid = c.pid;
        return pid;
    }
    std::vector<StandIn::Call> CallsOf(const std::wstring& member) const {
        std::vector<StandIn::Call> out;
        for (auto& c : session.calls())
            if (c.member == member) out.push_back(c);
        return out;
    }
    static Dispatch NewDocument(const Dispatch& app) { return app.get(L"Documents").toDispatch().call(L"Add").toDispatch(); }
    static Dispatch RangeOf(const Dispatch& doc) { return doc.call(L"Range").toDispatch(); }

    ComApartment com;
    StandIn::Session session;
};
