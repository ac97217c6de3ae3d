#include "support/Wait.h"

#include "common/MessagePump.h"
#include "common/MonotonicClock.h"

#include <windows.h>


bool WaitFor(const std::function<bool()>& ready, Millis limit, Millis step) {
    auto end = MonotonicClock::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (MonotonicClock::now() >= end) return ready();
        Sleep(static_cast<DWORD>(step.count()));
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
