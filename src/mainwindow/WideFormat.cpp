// MinGW's wide printf, which std::to_wstring and swprintf go through,
// replaced in orvelle.exe by Windows' own (msvcrt.dll's): MinGW's brings
// about 25 KB of number formatting, and the program formats only numbers.
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

// C99's vsnwprintf on Windows' own: the length modifiers "ll" and "z"
// become "I64" (which every msvcrt.dll reads), and the result is ended and
// counted as C99 has it, also when it does not fit.
extern "C" int __mingw_vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    std::wstring windows;
    for (const wchar_t* c = format; *c;) {
        windows += *c;
        if (*c++ != L'%') continue;
        while (*c && std::wcschr(L"-+ #0123456789.*", *c)) windows += *c++;
        if (c[0] == L'l' && c[1] == L'l') {
            windows += L"I64";
            c += 2;
        } else if (c[0] == L'z') {
            windows += L"I64";
            c += 1;
        } else if (*c) {
            windows += *c++;  // the conversion, or the second '%' of "%%"
        }
    }
    va_list counting;
    va_copy(counting, args);
    const int written = count ? _vsnwprintf(buffer, count, windows.c_str(), args) : -1;
    int length = written;
    if (written < 0 || static_cast<size_t>(written) >= count) {
        if (count) buffer[count - 1] = L'\0';
        length = _vscwprintf(windows.c_str(), counting);
    }
    va_end(counting);
    return length;
}
