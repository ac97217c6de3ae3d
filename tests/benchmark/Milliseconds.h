#pragma once
// How long a piece of work takes, for the benchmarks' lines.
#include "common/MonotonicClock.h"
#include <chrono>

inline double Since(MonotonicClock::time_point start) {
    return std::chrono::duration<double, std::milli>(MonotonicClock::now() - start).count();
}

inline double MillisecondsOf(auto&& work) {
    const auto start = MonotonicClock::now();
    work();
    return Since(start);
}
