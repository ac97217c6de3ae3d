#include "e2e/support/Controls.h"

#include "support/RemoteBuffer.h"
#include "support/WindowLookup.h"

#include <commctrl.h>

namespace remote {

// The click handler may back up, which takes a while.
void Click(HWND button) { SendWithTimeout(button, BM_CLICK, 0, 0, std::chrono::minutes(1)); }

bool Checked(HWND button) { return SendWithTimeout(button, BM_GETCHECK) == BST_CHECKED; }

bool Visible(HWND window) { return IsWindowVisible(window) != FALSE; }

void PostClose(HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }
void PostMinimize(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); }

int ListViewSelected(HWND list) {
    return static_cast<int>(SendWithTimeout(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ClickListViewItem(HWND list, int item) {
    SendWithTimeout(list, LVM_ENSUREVISIBLE, item, FALSE);
    RemoteBuffer buf(list, sizeof(RECT));
    RECT r{LVIR_BOUNDS, 0, 0, 0};
    buf.Write(&r, sizeof r);
    if (SendWithTimeout(list, LVM_GETITEMRECT, item, buf.Param())) buf.Read(&r, sizeof r);
    else r = RECT{};
    // The label's left part: the centre of a wide row may lie beyond the
    // one column, where a click selects nothing.
    LPARAM at = MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
    PostMessageW(list, WM_MOUSEMOVE, 0, at);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
}

Progress ProgressOf(HWND bar) {
    return Progress{static_cast<int>(SendWithTimeout(bar, PBM_GETPOS)),
                    static_cast<int>(SendWithTimeout(bar, PBM_GETRANGE, TRUE, 0)),
                    static_cast<int>(SendWithTimeout(bar, PBM_GETRANGE, FALSE, 0))};
}

HWND WaitMessageBox(DWORD pid, const std::wstring& caption, Millis limit) {
    return WaitTopLevel(pid, L"#32770", caption.c_str(), limit);
}

std::wstring MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? TextOf(text) : std::wstring{};
}

bool Answer(HWND box, int button, Millis limit) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return WaitFor([&] { return !IsWindow(box); }, limit);
}

}  // namespace remote
