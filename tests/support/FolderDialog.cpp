#include "support/FolderDialog.h"

#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

namespace folder_dialog {

namespace {
constexpr int kTreeId = 14145;
constexpr Millis kLimit = std::chrono::seconds(15);
}  // namespace

HWND FindDialog() {
    for (HWND w : TopLevelWindows(GetCurrentProcessId(), L"#32770", L"Browse for Folder"))
        if (IsWindowVisible(w)) return w;
    return nullptr;
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
          seen.found = WaitFor(
              [&] {
                  dialog = FindDialog();
                  tree = dialog ? GetDlgItem(dialog, kTreeId) : nullptr;
                  return tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0;
              },
              kLimit, Millis(50));
          if (!seen.found) return;
          seen.ownerDisabled = !IsWindowEnabled(owner);
          if (step) step(dialog, tree, seen);
          seen.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK));
          seen.statics = StaticTexts(dialog);
          // Pressed until the dialog is gone.
          WaitFor(
              [&] {
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
              },
              kLimit, Millis(50));
      }) {}

Driver::Step Select(std::wstring path, std::wstring label) {
    return [=](HWND dialog, HWND tree, Seen& seen) {
        seen.selected = WaitFor(
            [&] {
                SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
                Sleep(200);
                return CaretLabel(tree).find(label) != std::wstring::npos;
            },
            kLimit, Millis(50));
        // The status line follows the selection.
        WaitFor([&] { return HasText(StaticTexts(dialog), path); }, std::chrono::seconds(5), Millis(50));
    };
}

}  // namespace folder_dialog
