#include "support/NotificationArea.h"

#include "support/RemoteBuffer.h"
#include "support/WindowLookup.h"

#include <commctrl.h>

std::vector<HWND> TrayIcons() {
    constexpr wchar_t kIconClass[] = L"__winex11_tray_icon";
    std::vector<HWND> icons;
    for (HWND top : TopLevelWindows(0)) {
        // Docked icons are top-level windows embedded by the X tray; the
        // stand-alone tray holds them as children.
        if (ClassOf(top) == kIconClass) icons.push_back(top);
        for (HWND child : DescendantsOfClass(top, kIconClass)) icons.push_back(child);
    }
    return icons;
}

std::wstring TrayIconTip(HWND icon) {
    // The tip's tooltip is owned by the icon's top-level window (the
    // stand-alone tray holds icons as children); its one tool is the icon.
    for (HWND tip : TopLevelWindows(ProcessOf(icon), TOOLTIPS_CLASSW)) {
        if (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) continue;
        ToolInfo tool = FirstTool(tip);
        if (tool.window == icon) return tool.text;
    }
    return {};
}

HWND FindTrayIcon(const std::wstring& tip) {
    for (HWND icon : TrayIcons())
        if (TrayIconTip(icon) == tip) return icon;
    return nullptr;
}

void ClickTrayIcon(HWND icon, bool rightButton) {
    LPARAM at = MAKELPARAM(5, 5);
    PostMessageW(icon, rightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, rightButton ? MK_RBUTTON : MK_LBUTTON, at);
    PostMessageW(icon, rightButton ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
}

void SweepDeadTrayIcons() {
    for (HWND icon : TrayIcons()) SendWithTimeout(icon, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
}

std::vector<HWND> Balloons() {
    std::vector<HWND> found;
    for (HWND tip : TopLevelWindows(0, TOOLTIPS_CLASSW))
        if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON)) found.push_back(tip);
    return found;
}

ToolInfo FirstTool(HWND tooltip) {
    constexpr size_t chars = 1024;
    RemoteBuffer buf(tooltip, sizeof(TTTOOLINFOW) + chars * sizeof(wchar_t));
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.lpszText = static_cast<wchar_t*>(buf.Ptr(sizeof ti));
    buf.Write(&ti, sizeof ti);
    std::wstring text(chars, L'\0');
    buf.Write(text.data(), chars * sizeof(wchar_t), sizeof ti);
    if (!SendWithTimeout(tooltip, TTM_ENUMTOOLSW, 0, buf.Param())) return {};
    buf.Read(&ti, sizeof ti);
    buf.Read(text.data(), chars * sizeof(wchar_t), sizeof ti);
    text.resize(wcsnlen(text.c_str(), chars));
    HWND window = (ti.uFlags & TTF_IDISHWND) ? reinterpret_cast<HWND>(ti.uId) : ti.hwnd;
    return ToolInfo{window, text};
}

std::wstring BalloonText() {
    for (HWND balloon : Balloons())
        if (std::wstring text = FirstTool(balloon).text; !text.empty()) return text;
    return {};
}
