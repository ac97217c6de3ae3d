// The tray icon control's icon in Wine's real notification area, where every
// icon is a window of class "__winex11_tray_icon": adding and removing it,
// clicks on it, its tip and picture, a recreated notification area.
#include "SysTrayFixture.h"

#include <algorithm>

namespace {

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
    EXPECT_TRUE(IconsBecome(1));
    tray->SetInTray(true);
    EXPECT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_TRUE(calls[0].answer) << "the shell refused the record";
    // The shell may call back at once: the procedure is in place first.
    EXPECT_EQ(calls[0].procedure, reinterpret_cast<LONG_PTR>(&TrayWndProc));

    tray->SetInTray(false);
    EXPECT_FALSE(tray->InTray());
    EXPECT_TRUE(IconsBecome(0));
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
    ASSERT_TRUE(IconsBecome(1));
    HWND iconWindow = TrayIcons().at(0);
    auto seen = [this](const std::string& event) {
        return [this, event] { return std::find(log.begin(), log.end(), event) != log.end(); };
    };
    ClickTrayIcon(iconWindow);
    EXPECT_TRUE(PumpUntil(seen("MouseUp 1 0")));
    EXPECT_TRUE(std::find(log.begin(), log.end(), "MouseDown 1 0") != log.end());
    ClickTrayIcon(iconWindow, true);
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
    ASSERT_TRUE(IconsBecome(1));
    NOTIFYICONDATAA gone = BuildTrayRecord(tray->Window(), 0, {});
    for (int round = 0; round < 2; ++round) {
        // The shell loses the icon, as a restarted notification area would.
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
        ASSERT_TRUE(IconsBecome(0));
        calls.clear();
        if (round == 0)
            SendMessageW(host, TaskbarCreatedMessage(), 0, 0);  // the broadcast, forwarded by the host
        else
            SendMessageW(tray->Window(), TaskbarCreatedMessage(), 0, 0);
        EXPECT_TRUE(IconsBecome(1)) << "round " << round;
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
    ASSERT_TRUE(IconsBecome(1));
    tray.reset();
    EXPECT_TRUE(IconsBecome(0));

    tray = std::make_unique<cSysTray>(host);
    tray->SetTrayIcon(icon);
    tray->SetInTray(true);
    ASSERT_TRUE(IconsBecome(1));
    DestroyWindow(host);
    host = nullptr;
    EXPECT_TRUE(IconsBecome(0));
    EXPECT_FALSE(tray->InTray());
    EXPECT_EQ(tray->Window(), nullptr);
    tray.reset();
}
