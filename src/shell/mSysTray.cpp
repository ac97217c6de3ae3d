#include "shell/mSysTray.h"

#include "shell/cSysTray.h"

WNDPROC PrevWndProc = nullptr;

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Read before any handler runs: taking the icon out puts the old
    // procedure back and the message still belongs to it.
    WNDPROC previous = PrevWndProc;
    auto* control = reinterpret_cast<cSysTray*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (control) {
        // Nothing may be thrown into the system's message dispatch.
        try {
            if (message == kTrayCallbackMessage) {
                control->TrayCallback(lParam, wParam);
            } else if (message == TaskbarCreatedMessage() && message != 0) {
                control->OnTaskbarCreated();
            } else if (message == WM_DESTROY) {
                // The host is going away with the icon still registered.
                control->WindowDestroying();
            }
        } catch (...) {
        }
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
