#include "shell/cSysTray.h"

#include "common/Automation.h"
#include "common/Failure.h"
#include "common/MessagePump.h"
#include "common/MonotonicClock.h"
#include "common/Services.h"
#include "common/Text.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace {

constexpr wchar_t kClassName[] = L"OrvelleSysTray";

// The control ignores the shell's answer: a refused add still counts as
// added, so that a later delete is sent regardless.
void Notify(DWORD message, NOTIFYICONDATAA record) { Services::Current().NotifyIcon(message, record); }
void Notify(DWORD message, NOTIFYICONDATAW record) { Services::Current().NotifyIconWide(message, record); }

bool IsIcon(HICON icon) {
    if (!icon) return false;
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return true;
}

bool QuitPending() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

void CopyAnsiField(char* field, size_t width, std::wstring_view text) {
    if (width == 0) return;
    std::memset(field, 0, width);
    std::string bytes = ToAnsi(text);
    // Keep whole characters only, leaving room for the NUL.
    size_t end = 0;
    while (end < bytes.size()) {
        size_t length = IsDBCSLeadByte(static_cast<BYTE>(bytes[end])) ? 2 : 1;
        if (end + length > width - 1) break;
        end += length;
    }
    std::memcpy(field, bytes.data(), end);
}

void CopyWideField(wchar_t* field, size_t width, std::wstring_view text) {
    if (width == 0) return;
    std::memset(field, 0, width * sizeof *field);
    size_t end = std::min(text.size(), width - 1);
    // A high surrogate whose low half was cut shows as garbage.
    if (end > 0 && end < text.size() && IS_HIGH_SURROGATE(text[end - 1])) --end;
    std::memcpy(field, text.data(), end * sizeof *field);
}

NOTIFYICONDATAA BuildTrayRecord(HWND window, UINT id, const TrayRecordFields& fields) {
    NOTIFYICONDATAA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = kTrayRecordSize;
    record.hWnd = window;
    record.uID = id;
    record.uFlags = fields.flags;
    if (fields.flags & NIF_MESSAGE) record.uCallbackMessage = kTrayCallbackMessage;
    if (fields.flags & NIF_ICON) record.hIcon = fields.icon;
    if (fields.flags & NIF_TIP) CopyAnsiField(record.szTip, sizeof record.szTip, fields.tip);
    return record;
}

NOTIFYICONDATAW BuildBalloonRecord(HWND window, UINT id, std::wstring_view info, std::wstring_view title,
                                   UINT timeout) {
    NOTIFYICONDATAW record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = kBalloonRecordSize;
    record.hWnd = window;
    record.uID = id;
    record.uFlags = NIF_INFO;
    CopyWideField(record.szInfo, std::size(record.szInfo), info);
    CopyWideField(record.szInfoTitle, std::size(record.szInfoTitle), title);
    record.uTimeout = timeout;
    return record;
}

UINT BalloonTimeout(long seconds) {
    long long product = static_cast<long long>(seconds) * 1000;
    if (product > std::numeric_limits<int32_t>::max() || product < std::numeric_limits<int32_t>::min())
        throw Failure::Overflow();
    return seconds > 0 ? static_cast<UINT>(product) : 0;
}

cSysTray::cSysTray(HWND host) {
    static const ATOM atom = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = &OwnWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc);
    }();
    (void)atom;
    // Never visible: the window only gives the shell an address.
    window_ = CreateWindowExW(0, kClassName, L"", WS_CHILD, 0, 0, 0, 0, host, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) throw Failure::FromLastError();
}

cSysTray::~cSysTray() {
    *alive_ = false;
    try {
        if (inTray_) SetInTray(false);
    } catch (...) {
    }
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK cSysTray::OwnWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_NCDESTROY) {
        // Destroyed with its host: the control outlives its window.
        if (auto* control = reinterpret_cast<cSysTray*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            control->window_ = nullptr;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void cSysTray::SetInTray(bool value) {
    if (value == inTray_) return;
    if (value && window_) {
        // The procedure must be in place before the shell can call back.
        PrevWndProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayWndProc)));
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        AddIcon(window_, TrayID, trayTip_, trayIcon_);
        addedToTray_ = true;
    } else if (!value && addedToTray_) {
        // No callback may reach the old procedure for a registered icon.
        DeleteIcon(window_, TrayID);
        if (window_) SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWndProc));
        addedToTray_ = false;
    }
    inTray_ = value;
}

void cSysTray::SetTrayTip(const std::wstring& text) {
    if (addedToTray_) Notify(NIM_MODIFY, BuildTrayRecord(window_, TrayID, {.flags = NIF_TIP, .tip = text}));
    trayTip_ = text;
}

void cSysTray::SetTrayIcon(HICON icon) {
    if (!IsIcon(icon)) return;
    if (addedToTray_) Notify(NIM_MODIFY, BuildTrayRecord(window_, TrayID, {.flags = NIF_ICON, .icon = icon}));
    trayIcon_ = icon;
}

void cSysTray::AddIcon(HWND window, UINT id, const std::wstring& tip, HICON icon) {
    TrayRecordFields fields{.flags = NIF_MESSAGE};
    if (icon) {
        fields.flags |= NIF_ICON;
        fields.icon = icon;
        trayIcon_ = icon;
    }
    if (!tip.empty()) {
        fields.flags |= NIF_TIP;
        fields.tip = tip;
    }
    NOTIFYICONDATAA record = BuildTrayRecord(window, id, fields);
    if (!tip.empty()) trayTip_ = tip;
    Notify(NIM_ADD, record);
}

void cSysTray::DeleteIcon(HWND window, UINT id) { Notify(NIM_DELETE, BuildTrayRecord(window, id, {})); }

void cSysTray::OnTaskbarCreated() {
    // The new notification area starts empty; an icon that is meant to be
    // there must be added again or a window hidden in the tray is lost.
    if (addedToTray_ && window_) AddIcon(window_, TrayID, trayTip_, trayIcon_);
}

void cSysTray::WindowDestroying() {
    if (inTray_) SetInTray(false);
}

void cSysTray::TrayCallback(LPARAM mouseMessage, WPARAM id) {
    const long Id = static_cast<long>(id);
    switch (static_cast<UINT>(mouseMessage)) {
    case WM_MOUSEMOVE:
        if (MouseMove) MouseMove(Id);
        break;
    case WM_LBUTTONDOWN:
        if (MouseDown) MouseDown(kLeftButton, Id);
        break;
    case WM_LBUTTONUP:
        if (MouseUp) MouseUp(kLeftButton, Id);
        break;
    case WM_LBUTTONDBLCLK:
        if (MouseDblClick) MouseDblClick(kLeftButton, Id);
        break;
    case WM_RBUTTONDOWN:
        if (MouseDown) MouseDown(kRightButton, Id);
        break;
    case WM_RBUTTONUP:
        if (MouseUp) MouseUp(kRightButton, Id);
        break;
    case WM_RBUTTONDBLCLK:
        if (MouseDblClick) MouseDblClick(kRightButton, Id);
        break;
    case NIN_BALLOONHIDE:
    case NIN_BALLOONTIMEOUT:
        balloonShowing_ = false;
        break;
    case NIN_BALLOONUSERCLICK:
        balloonShowing_ = false;
        if (BalloonClick) BalloonClick();
        break;
    default:
        break;
    }
}

void cSysTray::ShowBalloon(const std::wstring& Message, const std::wstring& Title, long Seconds, bool ShowOnce) {
    if (ShowOnce && onceCount_ >= 1) return;
    const UINT timeout = BalloonTimeout(Seconds);
    Notify(NIM_MODIFY, BuildBalloonRecord(window_, TrayID, Message, Title, timeout));
    balloonShowing_ = true;
    if (ShowOnce) ++onceCount_;
    if (Seconds <= 0) return;

    // Handlers run inside this wait and may destroy the control.
    const std::shared_ptr<bool> alive = alive_;
    const auto limit = std::chrono::seconds(Seconds);
    const auto start = MonotonicClock::now();
    for (;;) {
        ProcessPendingMessages();
        if (!*alive) return;
        if (!balloonShowing_ || QuitPending()) break;
        auto left = limit - (MonotonicClock::now() - start);
        if (left <= MonotonicClock::duration::zero()) break;
        // Sleep until a message arrives instead of spinning.
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<long long>(ms, 1000)), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
    if (balloonShowing_) Notify(NIM_MODIFY, BuildBalloonRecord(window_, TrayID, {}, {}, timeout));
}
