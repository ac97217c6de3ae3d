#include "ClipboardLock.h"

ClipboardLock::ClipboardLock(HWND owner, std::chrono::milliseconds bound) {
    const auto start = std::chrono::steady_clock::now();
    while (!OpenClipboard(owner)) {
        if (std::chrono::steady_clock::now() - start >= bound) throw Failure::ClipboardInUse();
        Sleep(20);
    }
}
