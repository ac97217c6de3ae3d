#include "common/Text.h"

#include <windows.h>

namespace {

std::string Narrow(UINT codePage, std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace

std::string ToAnsi(std::wstring_view text) { return Narrow(CP_ACP, text); }
std::wstring FromAnsi(std::string_view text) { return Widen(CP_ACP, text); }
std::string ToUtf8(std::wstring_view text) { return Narrow(CP_UTF8, text); }
std::wstring FromUtf8(std::string_view text) { return Widen(CP_UTF8, text); }

void AppendUpperCase(std::wstring& to, std::wstring_view text) {
    const size_t at = to.size();
    to.append(text);
    if (!text.empty()) CharUpperBuffW(to.data() + at, static_cast<DWORD>(text.size()));
}

std::wstring UpperCase(std::wstring_view text) {
    std::wstring upper;
    AppendUpperCase(upper, text);
    return upper;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
