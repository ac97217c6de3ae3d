#pragma once
// The window's messages run until until() holds, as the program's own loop runs them.
#include <windows.h>

#include <functional>

inline void Pump(const std::function<bool()>& until) {
    MSG msg;
    while (!until()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}
