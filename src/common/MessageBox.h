#pragma once
// Every message box of the program goes through ShowMessageBox, so that
// in-process tests can see its text and answer it without a person.
#include <windows.h>

#include <functional>
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

// Test seam: while set, the handler answers instead of a real box.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);
