#pragma once
// Every message box of the program goes through ShowMessageBox, and so
// through the services (common/Services.h), where tests answer it.
#include <windows.h>

#include <optional>
#include <string>

struct MessageBoxRequest {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT style;
};

// Shows a modal message box and returns the button pressed (IDOK, IDYES...).
// Without a caption the box carries the application title.
int ShowMessageBox(HWND owner, const std::wstring& text, std::optional<std::wstring> caption, UINT style);
