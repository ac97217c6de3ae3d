#pragma once
// The window procedure that receives the shell's tray callbacks while a
// cSysTray icon is registered, and the procedure it replaced.
#include <windows.h>

// The message the shell sends to the control's window for mouse and balloon
// events on the icon (WM_USER + 101).
inline constexpr UINT kTrayCallbackMessage = WM_USER + 101;

// The window procedure that was in place before TrayWndProc took over the
// control's window.  One for the whole module: only one control at a time
// can have its icon in the tray.
extern WNDPROC PrevWndProc;

// Installed on the control's window while its icon is registered: turns the
// callback message into the control's mouse events, re-adds the icon when
// the notification area was recreated, and passes every message on to
// PrevWndProc.
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The registered "TaskbarCreated" message, broadcast to top-level windows
// when the shell's notification area is (re)created.
UINT TaskbarCreatedMessage();
