#pragma once
// A clock that only moves forward, for bounds and waits.  This toolchain's
// std::chrono::steady_clock reads the wall clock, which the user or a time
// server may set back or forward in the middle of a wait.
#include <windows.h>

#include <chrono>

struct MonotonicClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<MonotonicClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        LARGE_INTEGER counter, frequency;  // both documented never to fail since Windows XP
        QueryPerformanceCounter(&counter);
        QueryPerformanceFrequency(&frequency);
        const long long perSecond = frequency.QuadPart;
        return time_point(duration(counter.QuadPart / perSecond * 1'000'000'000 +
                                   counter.QuadPart % perSecond * 1'000'000'000 / perSecond));
    }
};
