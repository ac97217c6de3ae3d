#pragma once
// The clipboard, open for as long as the lock lives.
#include "common/Failure.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>

class ClipboardLock {
public:
    // Another program (a clipboard viewer, a copy under way) may hold the
    // clipboard for a moment: opening is retried until the bound passes, then
    // fails with Failure::ClipboardInUse.  Whoever writes must pass a window
    // of its own: after EmptyClipboard on a clipboard opened without one,
    // Windows refuses SetClipboardData (Wine does not).
    explicit ClipboardLock(HWND owner, std::chrono::milliseconds bound = std::chrono::seconds(1));
    ~ClipboardLock() { CloseClipboard(); }

    // The bytes of one format, exactly GlobalSize of them: clipboard data is
    // not always terminated (X11 selections arrive without a NUL).  Empty
    // when the format is not there.
    std::string bytes(UINT format) const;
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
};

// The same bytes where the clipboard keeps them, without a copy, while the
// view (and the lock it needs) lives.
class ClipboardView {
public:
    ClipboardView(const ClipboardLock& lock, UINT format);
    ~ClipboardView();
    ClipboardView(const ClipboardView&) = delete;
    ClipboardView& operator=(const ClipboardView&) = delete;
    std::string_view bytes() const { return bytes_; }

private:
    HANDLE data_ = nullptr;
    std::string_view bytes_;
};
