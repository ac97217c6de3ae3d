#pragma once
// Guarded operations.  Each numbered step runs inside the guard; a failure
// in it is reported (or, in quiet mode, swallowed) and the operation goes on
// with its next step.  A failing if-test counts as true.
//
//     Guard guard(L"SaveWord", L"SaveAll");
//     guard.step(1, [&] { ... });
//     if (guard.test(2, [&] { return ...; })) { ... }
#include "common/Failure.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

class Guard {
public:
    // Report-and-continue under the operation's location text.
    Guard(std::wstring_view module, std::wstring_view routine);
    // Continue-on-failure: nothing is shown.
    static Guard Quiet() { return Guard(); }

    template <class F>
    void step(int number, F&& body) {
        if (stopped_) return;
        begin(number);
        try {
            body();
        } catch (...) {
            failed(CurrentFailure());
        }
    }

    // The if-test of a decision; a failure takes the branch as if it held.
    template <class F>
    bool test(int number, F&& predicate) {
        if (stopped_) return false;
        begin(number);
        try {
            return static_cast<bool>(predicate());
        } catch (...) {
            failed(CurrentFailure());
            return true;
        }
    }

    // A step that yields a value; after a failure the value stays unset.
    template <class F>
    auto value(int number, F&& body) -> std::optional<decltype(body())> {
        if (stopped_) return std::nullopt;
        begin(number);
        try {
            return body();
        } catch (...) {
            failed(CurrentFailure());
            return std::nullopt;
        }
    }

    // After a failure that the predicate picks (one that makes every later
    // step pointless, such as a server that has gone away) the guard stops:
    // later steps are skipped and tests answer false.
    template <class P>
    void stopAfter(P&& predicate) { stopWhen_ = std::forward<P>(predicate); }
    bool stopped() const { return stopped_; }

    // Failures that the predicate picks are not reported as they come: the
    // operation tells of them itself, once for what they mean together.
    template <class P>
    void holdBack(P&& predicate) { holdBack_ = std::forward<P>(predicate); }
    struct Held {
        int step;
        Failure failure;
    };
    // The first failure held back, with its step.
    const std::optional<Held>& heldBack() const { return held_; }
    // Skips every later step; a failure of the step under way goes unreported.
    void stop() { stopped_ = true; }

    // The last swallowed or reported failure since the guard was armed.
    const std::optional<Failure>& lastFailure() const { return last_; }

private:
    Guard() = default;
    void begin(int number) { step_ = number; }
    void failed(const Failure& failure);

    std::optional<std::wstring> location_;  // empty in quiet mode
    int step_ = 0;
    std::optional<Failure> last_;
    std::function<bool(const Failure&)> stopWhen_, holdBack_;
    std::optional<Held> held_;
    bool stopped_ = false;
};
