#include "support/Wait.h"

#include "common/MessagePump.h"

#include <windows.h>

#include <thread>

bool WaitFor(const std::function<bool()>& ready, Millis limit, Millis step) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= end) return ready();
        std::this_thread::sleep_for(step);
    }
}

bool PumpUntil(const std::function<bool()>& ready, Millis limit) {
    return WaitFor(
        [&] {
            ProcessPendingMessages();
            return ready();
        },
        limit, Millis(20));
}
