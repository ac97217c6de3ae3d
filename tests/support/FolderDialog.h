#pragma once
// Drives the shell's folder dialog from a second thread, as a user would,
// while the code under test waits in BrowseForFolder on the test thread.
#include "support/Thread.h"
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace folder_dialog {

// The visible "Browse for Folder" dialog of this process, if one is open.
HWND FindDialog();
bool HasText(const std::vector<std::wstring>& texts, const std::wstring& text);
// The label of the tree's caret item.
std::wstring CaretLabel(HWND tree);

// What the driving thread saw in the open dialog.
struct Seen {
    bool found = false;
    bool ownerDisabled = false;
    bool selected = false;
    bool okEnabled = false;
    std::vector<std::wstring> statics;
};

// Drives one dialog: waits until it is up and filled, runs the step, then
// sends the button (IDOK, IDCANCEL, or 0 for the close box).  The dialog is
// always ended, so the test thread never hangs.
class Driver {
public:
    using Step = std::function<void(HWND dialog, HWND tree, Seen& seen)>;
    Driver(HWND owner, int button, Step step);
    ~Driver() { join(); }
    void join() {
        thread_.join();
    }
    Seen seen;

private:
    Thread thread_;
};

// Sets the selection until the tree's caret shows the wanted label (the
// dialog may not take it on the first try).
Driver::Step Select(std::wstring path, std::wstring label);

}  // namespace folder_dialog
