#pragma once
// How long a piece of work takes, for the benchmarks' lines.
#include <chrono>

inline double MillisecondsOf(auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
