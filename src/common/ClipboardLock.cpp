#include "common/ClipboardLock.h"

ClipboardLock::ClipboardLock(HWND owner, std::chrono::milliseconds bound) {
    const auto start = std::chrono::steady_clock::now();
    while (!OpenClipboard(owner)) {
        if (std::chrono::steady_clock::now() - start >= bound) throw Failure::ClipboardInUse();
        Sleep(20);
    }
}

std::string ClipboardLock::bytes(UINT format) const {
    HANDLE data = GetClipboardData(format);
    if (!data) return {};
    const char* p = static_cast<const char*>(GlobalLock(data));
    if (!p) return {};
    std::string bytes(p, GlobalSize(data));
    GlobalUnlock(data);
    return bytes;
}
