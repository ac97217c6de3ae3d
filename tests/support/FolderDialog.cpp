#include "FolderDialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

namespace folder_dialog {

namespace {
constexpr int kTreeId = 14145;
}  // namespace

std::wstring TextOf(HWND w) {
    wchar_t text[1024] = {};
    GetWindowTextW(w, text, 1024);
    return text;
}

HWND FindDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[32] = {};
            GetClassNameW(w, cls, 32);
            if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && TextOf(w) == L"Browse for Folder" &&
                IsWindowVisible(w)) {
                reinterpret_cast<Search*>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[32] = {};
            GetClassNameW(w, cls, 32);
            if (std::wstring(cls) == L"Static" && IsWindowVisible(w))
                reinterpret_cast<std::vector<std::wstring>*>(p)->push_back(TextOf(w));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

bool HasText(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::wstring CaretLabel(HWND tree) {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

Driver::Driver(HWND owner, int button, Step step)
    : thread_([=, this] {
          HWND dialog = nullptr, tree = nullptr;
          seen.found = WaitFor([&] {
              dialog = FindDialog();
              tree = dialog ? GetDlgItem(dialog, kTreeId) : nullptr;
              return tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0;
          });
          if (!seen.found) return;
          seen.ownerDisabled = !IsWindowEnabled(owner);
          if (step) step(dialog, tree, seen);
          seen.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK));
          seen.statics = StaticTexts(dialog);
          // Pressed until the dialog is gone.
          WaitFor([&] {
              if (!IsWindow(dialog)) return true;
              if (button)
                  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
              else
                  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
              if (button == IDOK && !IsWindowEnabled(GetDlgItem(dialog, IDOK)))
                  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
              Sleep(200);
              return !IsWindow(dialog);
          });
      }) {}

// Sets the selection until the tree's caret shows the wanted label (the
// dialog may not take it on the first try).
Driver::Step Select(std::wstring path, std::wstring label) {
    return [=](HWND dialog, HWND tree, Seen& seen) {
        seen.selected = WaitFor([&] {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
            Sleep(200);
            return CaretLabel(tree).find(label) != std::wstring::npos;
        });
        // The status line follows the selection.
        WaitFor([&] { return HasText(StaticTexts(dialog), path); }, 5);
    };
}

}  // namespace folder_dialog
