#include "common/ClipboardLock.h"

#include "common/MessagePump.h"
#include "common/MonotonicClock.h"

ClipboardLock::ClipboardLock(HWND owner, std::chrono::milliseconds bound) {
    const auto start = MonotonicClock::now();
    while (!OpenClipboard(owner)) {
        if (MonotonicClock::now() - start >= bound) throw Failure::ClipboardInUse();
        // Opened from the window's thread: it keeps answering meanwhile.
        WaitPumping(20);
    }
}

std::string ClipboardLock::bytes(UINT format) const { return std::string(ClipboardView(*this, format).bytes()); }

ClipboardView::ClipboardView(const ClipboardLock&, UINT format) : data_(GetClipboardData(format)) {
    const char* p = data_ ? static_cast<const char*>(GlobalLock(data_)) : nullptr;
    if (!p) {
        data_ = nullptr;
        return;
    }
    bytes_ = std::string_view(p, GlobalSize(data_));
}

ClipboardView::~ClipboardView() {
    if (data_) GlobalUnlock(data_);
}
