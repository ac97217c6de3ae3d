#pragma once
// Wine's notification area as a test sees it: each icon is a window of class
// "__winex11_tray_icon" (docked in an X tray or in Wine's stand-alone tray),
// and tips and balloons are tooltip windows.  All of them belong to Wine's
// desktop process, not to the icon's owner.
#include <windows.h>

#include <string>
#include <vector>

std::vector<HWND> TrayIcons();
// The icon's tip, read from its tooltip window.
std::wstring TrayIconTip(HWND icon);
// The icon whose tip is exactly tip; null when there is none.
HWND FindTrayIcon(const std::wstring& tip);
// Button down and up over the icon; Wine relays them to the icon's owner.
void ClickTrayIcon(HWND icon, bool rightButton = false);
// Wine keeps the icon of a process that died without removing it, until a
// mouse event for it finds the owner gone.  Sends each icon a mouse move so
// that dead ones go; live owners just see the pointer pass.
void SweepDeadTrayIcons();

// Visible balloon tooltips (TTS_BALLOON).
std::vector<HWND> Balloons();
// A tooltip's first tool: the window it belongs to and its text, read with
// TTM_ENUMTOOLSW through a buffer in the tooltip's process.
struct ToolInfo {
    HWND window = nullptr;
    std::wstring text;
};
ToolInfo FirstTool(HWND tooltip);
// The text of the first visible balloon that shows one; empty when none does.
std::wstring BalloonText();
