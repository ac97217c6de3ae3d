#pragma once
// Finding windows, of this process or another, and reading what they show.
#include "support/Wait.h"

#include <windows.h>

#include <string>
#include <vector>

// SendMessage with a bound, so that a hung owner cannot hang the test; 0
// when the owner did not answer in time.
LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
                        Millis limit = std::chrono::seconds(5));

DWORD ProcessOf(HWND window);
std::wstring ClassOf(HWND window);
// WM_GETTEXT, sent with a timeout.
std::wstring TextOf(HWND window);

// Top-level windows, hidden ones included, of one process (pid 0: of every
// process) whose class is cls (null: any) and, if given, whose caption is
// exactly caption.
std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* cls = nullptr, const wchar_t* caption = nullptr);
HWND FindTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption = nullptr);
HWND WaitTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption, Millis limit);

// The descendant with this control id, at any depth; null when there is none.
HWND FindDescendant(HWND parent, int id);
// Descendants at any depth whose class is cls (null: all).
std::vector<HWND> DescendantsOfClass(HWND parent, const wchar_t* cls);
// The texts of a dialog's visible static controls.
std::vector<std::wstring> StaticTexts(HWND dialog);
