#pragma once
// A FILETIME as one number of 100-ns ticks, for comparing and subtracting.
#include <windows.h>

#include <cstdint>

inline std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
