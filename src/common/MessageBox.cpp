#include "common/MessageBox.h"

#include "common/Main.h"
#include "common/Services.h"

int ShowMessageBox(HWND owner, const std::wstring& text, std::optional<std::wstring> caption, UINT style) {
    return Services::Current().ShowBox({owner, text, caption ? *caption : ApplicationTitle(), style});
}
