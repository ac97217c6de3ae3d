#pragma once
// The services of a test: each one set replaces the real one while the
// object lives; the others stay real.
#include "common/Services.h"

#include <functional>

class TestServices : public Services {
public:
    std::function<SYSTEMTIME()> clock;
    std::function<std::uint64_t(const std::wstring&)> freeSpace;
    std::function<int(const MessageBoxRequest&)> boxes;

    SYSTEMTIME LocalNow() override { return clock ? clock() : Services::LocalNow(); }
    std::uint64_t FreeSpace(const std::wstring& f) override { return freeSpace ? freeSpace(f) : Services::FreeSpace(f); }
    int ShowBox(const MessageBoxRequest& r) override { return boxes ? boxes(r) : Services::ShowBox(r); }

private:
    UseServices use_{*this};
};
