#pragma once
// Bounded polling.  Every wait in the tests ends at a limit; none asserts on
// how long a thing took.
#include <chrono>
#include <functional>

using Millis = std::chrono::milliseconds;

// Polls until ready() answers true or the limit has passed; answers the last
// result.  The step is short because most things under Wine take
// milliseconds.
bool WaitFor(const std::function<bool()>& ready, Millis limit, Millis step = Millis(25));

// The same for a window of this thread: its messages run between the polls.
bool PumpUntil(const std::function<bool()>& ready, Millis limit = std::chrono::seconds(10));
