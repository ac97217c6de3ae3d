// The tray icon control against a real window and Wine's real notification
// area, where every icon is a window of class "__winex11_tray_icon".
#include "common/Automation.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/MessagePump.h"
#include "common/Text.h"
#include "shell/cSysTray.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

std::string Hex(UINT v) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%X", v);
    return buffer;
}

// Runs the message loop until the predicate holds or ten seconds have passed.
template <class F>
bool PumpUntil(F&& done) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        ProcessPendingMessages();
        if (done()) return true;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) return false;
        Sleep(20);
    }
}

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

std::vector<HWND> WindowsOfClass(const std::wstring& cls) {
    struct Search {
        std::wstring cls;
        std::vector<HWND> found;
    } search{cls, {}};
    EnumWindows(
        [](HWND top, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (ClassOf(top) == s->cls) s->found.push_back(top);
            EnumChildWindows(
                top,
                [](HWND w, LPARAM q) -> BOOL {
                    auto* t = reinterpret_cast<Search*>(q);
                    if (ClassOf(w) == t->cls) t->found.push_back(w);
                    return TRUE;
                },
                p);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

size_t TrayIcons() { return WindowsOfClass(L"__winex11_tray_icon").size(); }

// The host window; like the main window, it forwards the shell's
// "TaskbarCreated" broadcast to its tray control.
LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == TaskbarCreatedMessage()) {
        if (auto* tray = reinterpret_cast<cSysTray*>(GetWindowLongPtrW(w, GWLP_USERDATA))) tray->OnTaskbarCreated();
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

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

// One shell call as the control made it, and the shell's answer.
struct Call {
    DWORD message;
    NOTIFYICONDATAA record;
    BOOL answer;
    LONG_PTR procedure;  // the control window's procedure at the time
};

std::string Tip(const Call& c) { return std::string(c.record.szTip, strnlen(c.record.szTip, 128)); }
std::string Info(const Call& c) { return std::string(c.record.szInfo, strnlen(c.record.szInfo, 256)); }
std::string Title(const Call& c) { return std::string(c.record.szInfoTitle, strnlen(c.record.szInfoTitle, 64)); }

class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 0; })) << "an icon of an earlier test is left";
        host = CreateHost();
        ASSERT_TRUE(host);
        tray = std::make_unique<cSysTray>(host);
        SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tray.get()));
        icon = LoadIconW(nullptr, IDI_APPLICATION);
        tray->MouseMove = [this](long id) { log.push_back("MouseMove " + std::to_string(id)); };
        auto record = [this](std::string event) {
            return [this, event](short b, long id) {
                log.push_back(event + " " + std::to_string(b) + " " + std::to_string(id));
            };
        };
        tray->MouseDown = record("MouseDown");
        tray->MouseUp = record("MouseUp");
        tray->MouseDblClick = record("MouseDblClick");
        // Every shell call is seen here and passed on to the real shell.
        SetTrayNotifyHandler([this](DWORD message, NOTIFYICONDATAA& record) {
            BOOL answer = Shell_NotifyIconA(message, &record);
            calls.push_back({message, record, answer, GetWindowLongPtrW(record.hWnd, GWLP_WNDPROC)});
            return answer;
        });
    }

    void TearDown() override {
        tray.reset();
        SetTrayNotifyHandler(nullptr);
        if (host) DestroyWindow(host);
        ProcessPendingMessages();
    }

    HWND host = nullptr;
    HICON icon = nullptr;
    std::unique_ptr<cSysTray> tray;
    Log log;
    std::vector<Call> calls;
};

// A window procedure put on the control's window before the tray takes it
// over, to see what reaches the previous procedure and when.
Log* recorderLog = nullptr;
WNDPROC recorderNext = nullptr;
LRESULT CALLBACK Recorder(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kTrayCallbackMessage && recorderLog) recorderLog->push_back("previous " + Hex(static_cast<UINT>(lp)));
    return CallWindowProcW(recorderNext, w, m, wp, lp);
}

}  // namespace

TEST_F(Tray, InTrayRegistersAndRemovesTheRealIconOnce) {
    tray->SetTrayIcon(icon);
    const LONG_PTR ownProcedure = GetWindowLongPtrW(tray->Window(), GWLP_WNDPROC);
    tray->SetInTray(true);
    EXPECT_TRUE(tray->InTray());
    EXPECT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    tray->SetInTray(true);
    EXPECT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_TRUE(calls[0].answer) << "the shell refused the record";
    // The shell may call back at once: the procedure is in place first.
    EXPECT_EQ(calls[0].procedure, reinterpret_cast<LONG_PTR>(&TrayWndProc));

    tray->SetInTray(false);
    EXPECT_FALSE(tray->InTray());
    EXPECT_TRUE(PumpUntil([] { return TrayIcons() == 0; }));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(calls[1].record.uFlags, 0u);
    EXPECT_EQ(calls[1].procedure, reinterpret_cast<LONG_PTR>(&TrayWndProc));
    EXPECT_EQ(GetWindowLongPtrW(tray->Window(), GWLP_WNDPROC), ownProcedure);
    tray->SetInTray(false);
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Tray, ClicksOnTheRealIconBecomeMouseEvents) {
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    HWND iconWindow = WindowsOfClass(L"__winex11_tray_icon").at(0);
    auto seen = [this](const std::string& event) {
        return [this, event] { return std::find(log.begin(), log.end(), event) != log.end(); };
    };
    PostMessageW(iconWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(iconWindow, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(PumpUntil(seen("MouseUp 1 0")));
    EXPECT_TRUE(std::find(log.begin(), log.end(), "MouseDown 1 0") != log.end());
    PostMessageW(iconWindow, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    PostMessageW(iconWindow, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(PumpUntil(seen("MouseUp 2 0")));
}

TEST_F(Tray, CallbacksRaiseTheirEventsThenReachThePreviousProcedure) {
    recorderLog = &log;
    recorderNext = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(tray->Window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Recorder)));
    tray->SetInTray(true);
    tray->SetInTray(true);  // a second hook would call itself for ever
    for (UINT m = 0x200; m <= 0x209; ++m) SendMessageW(tray->Window(), kTrayCallbackMessage, 0, m);
    const Log expected = {
        "MouseMove 0",
        "previous 0x200",
        "MouseDown 1 0",
        "previous 0x201",
        "MouseUp 1 0",
        "previous 0x202",
        "MouseDblClick 1 0",
        "previous 0x203",
        "MouseDown 2 0",
        "previous 0x204",
        "MouseUp 2 0",
        "previous 0x205",
        "MouseDblClick 2 0",
        "previous 0x206",
        // middle button: nothing of ours
        "previous 0x207",
        "previous 0x208",
        "previous 0x209",
    };
    EXPECT_EQ(log, expected);

    // Balloon notifications and a click on the balloon raise no event.
    log.clear();
    for (UINT m : {0x402u, 0x403u, 0x404u, 0x405u}) SendMessageW(tray->Window(), kTrayCallbackMessage, 0, m);
    EXPECT_EQ(log, (Log{"previous 0x402", "previous 0x403", "previous 0x404", "previous 0x405"}));

    // Out of the tray the window has its old procedure back.
    log.clear();
    tray->SetInTray(false);
    SendMessageW(tray->Window(), kTrayCallbackMessage, 0, WM_LBUTTONUP);
    EXPECT_EQ(log, (Log{"previous 0x202"}));
    EXPECT_EQ(GetWindowLongPtrW(tray->Window(), GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&Recorder));
    SetWindowLongPtrW(tray->Window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recorderNext));
    recorderLog = nullptr;
}

TEST_F(Tray, TipAndIconAreStoredOutOfTheTrayAndSentWithTheAdd) {
    // Without either, the add carries neither flag.
    tray->SetInTray(true);
    tray->SetInTray(false);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE));
    calls.clear();

    tray->SetTrayTip(L"Orvelle");
    tray->SetTrayIcon(icon);
    EXPECT_TRUE(calls.empty());
    tray->SetInTray(true);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(calls[0].record.uCallbackMessage, 1125u);
    EXPECT_EQ(calls[0].record.hIcon, icon);
    EXPECT_EQ(Tip(calls[0]), "Orvelle");

    // In the tray each change is sent at once.
    HICON other = LoadIconW(nullptr, IDI_WARNING);
    tray->SetTrayIcon(other);
    tray->SetTrayTip(L"Gr\u00fc\u00dfe");
    tray->SetTrayTip(L"");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].record.uFlags, static_cast<UINT>(NIF_ICON));
    EXPECT_EQ(calls[1].record.hIcon, other);
    EXPECT_EQ(calls[2].record.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(Tip(calls[2]),
              std::string("Gr\xfc\xdf") + "e");
    EXPECT_EQ(calls[3].record.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(Tip(calls[3]), "");
    for (const Call& c : calls) EXPECT_TRUE(c.answer);
    EXPECT_EQ(tray->TrayTip(), L"");

    // Anything but an icon is ignored and the icon stays.
    HBITMAP bitmap = CreateBitmap(16, 16, 1, 1, nullptr);
    tray->SetTrayIcon(reinterpret_cast<HICON>(bitmap));
    tray->SetTrayIcon(nullptr);
    DeleteObject(bitmap);
    EXPECT_EQ(tray->TrayIcon(), other);
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(Tray, ARecreatedNotificationAreaGetsTheIconBack) {
    tray->SetTrayIcon(icon);
    tray->SetTrayTip(L"Orvelle");
    // Out of the tray there is nothing to add again.
    SendMessageW(host, TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(calls.empty());

    tray->SetInTray(true);
    ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    NOTIFYICONDATAA gone = BuildTrayRecord(tray->Window(), 0, {});
    for (int round = 0; round < 2; ++round) {
        // The shell loses the icon, as a restarted notification area would.
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
        ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 0; }));
        calls.clear();
        if (round == 0)
            SendMessageW(host, TaskbarCreatedMessage(), 0, 0);  // the broadcast, forwarded by the host
        else
            SendMessageW(tray->Window(), TaskbarCreatedMessage(), 0, 0);
        EXPECT_TRUE(PumpUntil([] { return TrayIcons() == 1; })) << "round " << round;
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(Tip(calls[0]), "Orvelle");
        EXPECT_EQ(calls[0].record.hIcon, icon);
    }
    // The re-added icon still reaches the control.
    SendMessageW(tray->Window(), kTrayCallbackMessage, 0, WM_RBUTTONUP);
    EXPECT_EQ(log, (Log{"MouseUp 2 0"}));
}

TEST_F(Tray, DestroyingTheControlOrItsHostRemovesTheIcon) {
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    tray.reset();
    EXPECT_TRUE(PumpUntil([] { return TrayIcons() == 0; }));

    tray = std::make_unique<cSysTray>(host);
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    DestroyWindow(host);
    host = nullptr;
    EXPECT_TRUE(PumpUntil([] { return TrayIcons() == 0; }));
    EXPECT_FALSE(tray->InTray());
    EXPECT_EQ(tray->Window(), nullptr);
    tray.reset();
}

TEST_F(Tray, ShowOnceShowsOnlyTheFirstBalloonAndZeroSecondsDoesNotWait) {
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    calls.clear();
    tray->ShowBalloon(L"has been minimized to the system tray.\r\nClick the icon.", L"Orvelle", 0, true);
    ASSERT_EQ(calls.size(), 1u);  // no wait, no remove call
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Info(calls[0]), "has been minimized to the system tray.\r\nClick the icon.");
    EXPECT_EQ(Title(calls[0]), "Orvelle");
    EXPECT_EQ(calls[0].record.uTimeout, 0u);
    EXPECT_TRUE(calls[0].answer);
    EXPECT_TRUE(tray->BalloonShowing());

    tray->ShowBalloon(L"again", L"Orvelle", 0, true);
    EXPECT_EQ(calls.size(), 1u);
    tray->ShowBalloon(L"always", L"Orvelle", -5, false);
    tray->ShowBalloon(L"always", L"Orvelle", -5, false);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].record.uTimeout, 0u);
}

TEST_F(Tray, OverflowingSecondsFailBeforeAnythingIsSent) {
    tray->SetInTray(true);
    calls.clear();
    for (long seconds : {2147484L, -2147484L}) {
        try {
            tray->ShowBalloon(L"text", L"title", seconds, true);
            ADD_FAILURE() << seconds << " did not overflow";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 6);
        }
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(tray->BalloonShowing());
    // A balloon that failed does not count as the one shown once.
    tray->ShowBalloon(L"text", L"title", 0, true);
    EXPECT_EQ(calls.size(), 1u);
}

namespace {
HWND timerTarget = nullptr;
UINT timerNotification = 0;
void CALLBACK SendBalloonClosed(HWND host, UINT, UINT_PTR id, DWORD) {
    KillTimer(host, id);
    // A click on the icon during the wait, then the shell's balloon report.
    SendMessageW(timerTarget, kTrayCallbackMessage, 0, WM_LBUTTONUP);
    SendMessageW(timerTarget, kTrayCallbackMessage, 0, timerNotification);
}
}  // namespace

TEST_F(Tray, TheShellsBalloonReportEndsTheWaitWithoutARemoveCall) {
    // Wine never sends these reports, so they are sent here the way the
    // shell would, while the control waits.
    tray->SetInTray(true);
    timerTarget = tray->Window();
    for (UINT notification : {NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT, NIN_BALLOONUSERCLICK}) {
        calls.clear();
        log.clear();
        timerNotification = notification;
        SetTimer(host, 1, 100, &SendBalloonClosed);
        tray->ShowBalloon(L"text", L"title", 120, false);
        ASSERT_EQ(calls.size(), 1u) << Hex(notification);
        EXPECT_EQ(calls[0].record.uTimeout, 120000u);
        EXPECT_FALSE(tray->BalloonShowing());
        // Handlers ran inside the wait.
        EXPECT_EQ(log, (Log{"MouseUp 1 0"}));
    }
}

TEST_F(Tray, AWaitThatRunsOutTakesTheBalloonDown) {
    tray->SetInTray(true);
    calls.clear();
    tray->ShowBalloon(L"text", L"title", 1, false);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Info(calls[0]), "text");
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(calls[1].record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Info(calls[1]), "");
    EXPECT_EQ(Title(calls[1]), "");
    EXPECT_EQ(calls[1].record.uTimeout, 1000u);
}

namespace {

// Memory inside another process for a message that carries pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_) memory_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (memory_) VirtualFreeEx(process_.get(), memory_, 0, MEM_RELEASE);
    }
    bool ok() const { return memory_ != nullptr; }
    char* at(size_t offset) const { return static_cast<char*>(memory_) + offset; }
    void write(size_t offset, const void* data, size_t n) {
        WriteProcessMemory(process_.get(), at(offset), data, n, nullptr);
    }
    void read(size_t offset, void* data, size_t n) { ReadProcessMemory(process_.get(), at(offset), data, n, nullptr); }

private:
    UniqueHandle process_;
    void* memory_ = nullptr;
    size_t size_;
};

// The text of a visible balloon tooltip of the shell, or empty text.
std::wstring ShownBalloonText() {
    for (HWND tip : WindowsOfClass(L"tooltips_class32")) {
        if (!IsWindowVisible(tip) || !(GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON)) continue;
        RemoteBuffer remote(tip, sizeof(TTTOOLINFOW) + 1024 * sizeof(wchar_t));
        if (!remote.ok()) continue;
        TTTOOLINFOW info{};
        info.cbSize = sizeof info;
        info.lpszText = reinterpret_cast<wchar_t*>(remote.at(sizeof info));
        remote.write(0, &info, sizeof info);
        if (!SendMessageW(tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(remote.at(0)))) continue;
        wchar_t text[1024] = {};
        remote.read(sizeof info, text, sizeof text - sizeof(wchar_t));
        if (text[0]) return text;
    }
    return {};
}

}  // namespace

TEST_F(Tray, TheShellShowsTheBalloonText) {
    // Proves that the shell takes the whole record (with a size it did not
    // know it would fall back to the old tip-only layout and show nothing).
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(PumpUntil([] { return TrayIcons() == 1; }));
    tray->ShowBalloon(L"has been minimized to the system tray.", L"Orvelle", 0, false);
    std::wstring shown;
    EXPECT_TRUE(PumpUntil([&] { return !(shown = ShownBalloonText()).empty(); }));
    EXPECT_EQ(shown, L"has been minimized to the system tray.");
}
