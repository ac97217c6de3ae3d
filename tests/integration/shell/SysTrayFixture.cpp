#include "SysTrayFixture.h"

#include "common/MessagePump.h"

#include <cstdio>
#include <cstring>

std::string Hex(UINT v) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%X", v);
    return buffer;
}

std::string Tip(const Call& c) { return std::string(c.record.szTip, strnlen(c.record.szTip, 128)); }

namespace {

LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == TaskbarCreatedMessage()) {
        if (auto* tray = reinterpret_cast<cSysTray*>(GetWindowLongPtrW(w, GWLP_USERDATA))) tray->OnTaskbarCreated();
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

}  // namespace

HWND CreateHost() {
    static const ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvelleTrayTestHost";
        return RegisterClassW(&wc);
    }();
    (void)atom;
    return CreateWindowExW(0, L"OrvelleTrayTestHost", L"Tray test host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

void Tray::SetUp() {
    ASSERT_TRUE(IconsBecome(0)) << "an icon of an earlier test is left";
    host = CreateHost();
    ASSERT_TRUE(host);
    tray = std::make_unique<cSysTray>(host);
    SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tray.get()));
    icon = LoadIconW(nullptr, IDI_APPLICATION);
    tray->MouseMove = [this](long id) { log.push_back("MouseMove " + std::to_string(id)); };
    auto record = [this](std::string event) {
        return [this, event](short b, long id) { log.push_back(event + " " + std::to_string(b) + " " + std::to_string(id)); };
    };
    tray->MouseDown = record("MouseDown");
    tray->MouseUp = record("MouseUp");
    tray->MouseDblClick = record("MouseDblClick");
    use = std::make_unique<UseServices>(*this);
}

// Every shell call is seen here and passed on to the real shell.
BOOL Tray::NotifyIcon(DWORD message, NOTIFYICONDATAA& record) {
    BOOL answer = Services::NotifyIcon(message, record);
    calls.push_back({message, record, answer, GetWindowLongPtrW(record.hWnd, GWLP_WNDPROC)});
    return answer;
}

BOOL Tray::NotifyIconWide(DWORD message, NOTIFYICONDATAW& record) {
    EXPECT_EQ(record.cbSize, sizeof record);
    BOOL answer = Services::NotifyIconWide(message, record);
    NOTIFYICONDATAA address{};
    address.hWnd = record.hWnd;
    address.uID = record.uID;
    address.uFlags = record.uFlags;
    address.uTimeout = record.uTimeout;
    calls.push_back({message, address, answer, GetWindowLongPtrW(record.hWnd, GWLP_WNDPROC), record.szInfo,
                     record.szInfoTitle});
    return answer;
}

void Tray::TearDown() {
    tray.reset();
    use.reset();
    if (host) DestroyWindow(host);
    ProcessPendingMessages();
}
