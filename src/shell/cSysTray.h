#pragma once
// The tray icon control: the program's one icon in the notification area,
// its tip, balloon notifications, and the shell's mouse callbacks turned
// into four events for the host window.
//
//     cSysTray1 = std::make_unique<cSysTray>(hwnd);
//     cSysTray1->MouseUp = [this](short button, long id) { cSysTray1_MouseUp(button, id); };
//     cSysTray1->SetTrayIcon(icon);
//     cSysTray1->SetInTray(true);
//     cSysTray1->SetTrayTip(L"Orvelle");
//
// The host's window procedure forwards the shell's "TaskbarCreated"
// broadcast, which only top-level windows receive:
//
//     if (message == TaskbarCreatedMessage()) cSysTray1->OnTaskbarCreated();
#include "shell/mSysTray.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class cSysTray {
public:
    static constexpr short kLeftButton = 1;
    static constexpr short kRightButton = 2;

    // Creates the control's hidden child window on the host; the icon is not
    // in the tray yet.  Call on the host's (GUI) thread.
    explicit cSysTray(HWND host);
    // Removes the icon when it is still in the tray.
    ~cSysTray();
    cSysTray(const cSysTray&) = delete;
    cSysTray& operator=(const cSysTray&) = delete;

    // True registers the icon with the shell, False removes it; setting the
    // value it already has does nothing.
    bool InTray() const { return inTray_; }
    void SetInTray(bool value);

    // The tip; stored while the icon is not in the tray and sent with the
    // next add.  An empty tip clears the tip of an icon in the tray.
    const std::wstring& TrayTip() const { return trayTip_; }
    void SetTrayTip(const std::wstring& text);

    // The picture.  A null handle or one that is not an icon is ignored and
    // the previous icon stays.  The caller keeps the icon alive while it is
    // in use; the control never destroys it.
    HICON TrayIcon() const { return trayIcon_; }
    void SetTrayIcon(HICON icon);

    // Shows a balloon at the icon.  With ShowOnce, only the first such call
    // of the control's life shows anything.  With Seconds > 0 the call waits,
    // processing window messages, until the shell reports the balloon closed
    // or Seconds have passed, then takes the balloon down; otherwise it
    // returns at once.  Seconds x 1000 beyond 32 bits throws
    // Failure::Overflow() before anything is shown.
    void ShowBalloon(const std::wstring& Message, const std::wstring& Title, long Seconds, bool ShowOnce);

    // Adds the icon again after the notification area was recreated, when it
    // is meant to be in the tray.
    void OnTaskbarCreated();

    // Events, raised on the GUI thread while the icon is in the tray.  Id is
    // the icon identifier (always 0); Button is kLeftButton or kRightButton.
    // A failure thrown by a handler ends at the window procedure.
    std::function<void(long Id)> MouseMove;
    std::function<void(short Button, long Id)> MouseDown;
    std::function<void(short Button, long Id)> MouseUp;
    std::function<void(short Button, long Id)> MouseDblClick;
    // The user clicked the balloon (not raised under Wine, whose shell never
    // reports balloon events).
    std::function<void()> BalloonClick;

    // The control's own window: the shell addresses the icon by it.
    HWND Window() const { return window_; }
    // True from a balloon's show until the shell reports it closed.
    bool BalloonShowing() const { return balloonShowing_; }

private:
    friend LRESULT CALLBACK TrayWndProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK OwnWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void AddIcon(HWND window, UINT id, const std::wstring& tip, HICON icon);
    void DeleteIcon(HWND window, UINT id);
    void TrayCallback(LPARAM mouseMessage, WPARAM id);
    void WindowDestroying();

    HWND window_ = nullptr;
    static constexpr UINT TrayID = 0;
    bool inTray_ = false;
    bool addedToTray_ = false;
    std::wstring trayTip_;
    HICON trayIcon_ = nullptr;
    bool balloonShowing_ = false;
    long onceCount_ = 0;
    // Lets a balloon wait notice that a handler destroyed the control.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// ---- The tray records, built as pure functions so that their bytes can be
// checked without a shell.

// The shell's version-2 ANSI record of the platform we build for: 488 bytes
// for 32-bit code, 504 for x64 (pointer-sized hWnd and hIcon are aligned).
// It carries the icon and its tip.
inline constexpr DWORD kTrayRecordSize = NOTIFYICONDATAA_V2_SIZE;
// Balloons go as the wide record, so that a document's name shows whatever
// its script: its whole size, which the shell documents for Windows Vista
// and later.
inline constexpr DWORD kBalloonRecordSize = sizeof(NOTIFYICONDATAW);

// The fields one shell call sets besides cbSize, hWnd and uID.  The tip is
// only written for NIF_TIP; NIF_MESSAGE sets uCallbackMessage to
// kTrayCallbackMessage.
struct TrayRecordFields {
    UINT flags = 0;
    HICON icon = nullptr;
    std::wstring_view tip;
};

// A zero-filled record with cbSize, hWnd, uID and the given fields.
NOTIFYICONDATAA BuildTrayRecord(HWND window, UINT id, const TrayRecordFields& fields);

// A zero-filled wide record that shows a balloon (NIF_INFO): the title and
// text cut to their fields, and uTimeout.  Empty texts take it down.
NOTIFYICONDATAW BuildBalloonRecord(HWND window, UINT id, std::wstring_view info, std::wstring_view title,
                                   UINT timeout);

// Writes text in the ANSI code page into a field of width bytes, cut so
// that the terminating NUL still fits and no double-byte character is split.
void CopyAnsiField(char* field, size_t width, std::wstring_view text);
// The same for a wide field of width characters: no surrogate pair is split.
void CopyWideField(wchar_t* field, size_t width, std::wstring_view text);

// Seconds x 1000 as the balloon's uTimeout: 0 for Seconds <= 0; throws
// Failure::Overflow() when the product does not fit 32 signed bits.
UINT BalloonTimeout(long seconds);
