#include "common/MessagePump.h"

#include "common/MonotonicClock.h"

#include <chrono>

namespace {

bool QuitPending() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit for the real message loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WaitPumping(DWORD pause) {
    const auto end = MonotonicClock::now() + std::chrono::milliseconds(pause);
    for (;;) {
        ProcessPendingMessages();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - MonotonicClock::now()).count();
        if (left <= 0) return;
        // A quit left in the queue would wake every wait at once: the rest
        // of the pause then waits for nothing but time.
        const DWORD wake = QuitPending() ? 0 : QS_ALLINPUT;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), wake, wake ? MWMO_INPUTAVAILABLE : 0);
    }
}
