#include "shell/AddFolder.h"

#include "common/Handle.h"

#include <shlobj.h>

namespace {

// The folder BrowseCallbackProc selects when the dialog opens.  It keeps its
// value after the call.
std::wstring StartFolder;

}  // namespace

int CALLBACK BrowseCallbackProc(HWND dialog, UINT message, LPARAM lParam, LPARAM) {
    // The dialog must keep running whatever happens in here.
    try {
        switch (message) {
        case BFFM_INITIALIZED:
            if (!StartFolder.empty())
                SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(StartFolder.c_str()));
            break;
        case BFFM_SELCHANGED: {
            wchar_t path[MAX_PATH] = {};
            if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
                SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
            break;
        }
        default:
            break;
        }
    } catch (...) {
    }
    return 0;
}

std::wstring BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start) {
    StartFolder = start;
    BROWSEINFOW request{};
    request.hwndOwner = owner;
    request.lpszTitle = title.c_str();
    // The status line shows the full path of the folder under the caret.
    request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    request.lpfn = &BrowseCallbackProc;
    UniquePidl item(SHBrowseForFolderW(&request));
    if (!item) return {};
    wchar_t path[MAX_PATH] = {};
    SHGetPathFromIDListW(item.get(), path);
    return path;  // cut at the first NUL
}
