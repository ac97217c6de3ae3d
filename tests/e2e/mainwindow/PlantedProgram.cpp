// A program planted beside Orvelle under a system program's name: it leaves
// a mark beside itself ("<its path>.ran") and ends.
#include <windows.h>

#include <string>

int main() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring mark = std::wstring(path, length) + L".ran";
    HANDLE file = CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
}
