#include "common/MessageBox.h"

#include "common/Main.h"

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

int ShowMessageBox(HWND owner, const std::wstring& text, std::optional<std::wstring> caption, UINT style) {
    MessageBoxRequest request{owner, text, caption ? *caption : ApplicationTitle(), style};
    if (Handler()) return Handler()(request);
    return MessageBoxW(owner, request.text.c_str(), request.caption.c_str(), style);
}
