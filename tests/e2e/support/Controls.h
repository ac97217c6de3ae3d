#pragma once
// Driving another program's windows the way a user or the shell would:
// clicking its controls, reading them, answering its message boxes, and
// closing or minimising its window from the system menu.
#include "support/Wait.h"

#include <windows.h>

#include <string>

namespace remote {

// BM_CLICK that returns when the owner's click handler has returned.  Use it
// only for handlers that open nothing modal.
void Click(HWND button);
bool Checked(HWND button);
bool Visible(HWND window);

// Posts WM_CLOSE / WM_SYSCOMMAND SC_MINIMIZE, as the system menu would.
void PostClose(HWND window);
void PostMinimize(HWND window);

// The report-style list view: the first selected item (-1 when none is),
// and a user's click on an item (mouse move, button down and up on it).
int ListViewSelected(HWND list);
void ClickListViewItem(HWND list, int item);

struct Progress {
    int position;
    int low;
    int high;
};
Progress ProgressOf(HWND bar);

// A message box (#32770) of pid with exactly this caption, waited for.
HWND WaitMessageBox(DWORD pid, const std::wstring& caption, Millis limit);
// The message text: the static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
// Presses the button IDOK, IDYES, IDNO ... and waits until the box is gone.
bool Answer(HWND box, int button, Millis limit = std::chrono::seconds(10));

}  // namespace remote
