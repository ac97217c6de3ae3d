#include "mainwindow/Settings.h"

#include "common/Failure.h"
#include "mainwindow/Policies.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <string>

std::wstring GetSetting(const std::wstring& key, const std::wstring& defaultValue) {
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, settings::kKeyPath, key.c_str(), RRF_RT_REG_SZ, nullptr,
                                  nullptr, &bytes);
    if (status != ERROR_SUCCESS) return defaultValue;
    // The value may grow between the two calls; ask again until it fits.
    for (;;) {
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, settings::kKeyPath, key.c_str(), RRF_RT_REG_SZ, nullptr,
                              value.data(), &size);
        if (status == ERROR_MORE_DATA) {
            bytes = size;
            continue;
        }
        if (status != ERROR_SUCCESS) return defaultValue;
        value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
        return value;
    }
}

void SaveSetting(const std::wstring& key, const std::wstring& value) {
    if (IsManaged(key)) return;
    LSTATUS status =
        RegSetKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, key.c_str(), REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) throw Failure::FromWin32(static_cast<DWORD>(status));
}

std::vector<std::wstring> GetBackupFolders() {
    std::wstring list;
    DWORD bytes = 0;
    LSTATUS status = ERROR_MORE_DATA;
    // The value may grow between the calls; ask again until it fits.
    while (status == ERROR_MORE_DATA) {
        status = RegGetValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders, RRF_RT_REG_MULTI_SZ,
                              nullptr, nullptr, &bytes);
        if (status != ERROR_SUCCESS) return {};
        list.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD size = static_cast<DWORD>(list.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders, RRF_RT_REG_MULTI_SZ,
                              nullptr, list.data(), &size);
    }
    if (status != ERROR_SUCCESS) return {};
    std::vector<std::wstring> folders;
    for (const wchar_t* at = list.c_str(); *at; at += wcslen(at) + 1) folders.emplace_back(at);
    return folders;
}

void RememberBackupFolder(const std::wstring& folder) {
    std::vector<std::wstring> folders = GetBackupFolders();
    if (!folders.empty() && folders.front() == folder) return;  // every backup of a run in one folder
    std::erase_if(folders, [&](const std::wstring& known) {
        return CompareStringOrdinal(known.c_str(), -1, folder.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
    folders.insert(folders.begin(), folder);
    if (folders.size() > settings::kMaxBackupFolders) folders.resize(settings::kMaxBackupFolders);
    std::wstring list;
    for (const std::wstring& f : folders) list.append(f).push_back(L'\0');
    list.push_back(L'\0');
    const LSTATUS status =
        RegSetKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders, REG_MULTI_SZ, list.data(),
                        static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) throw Failure::FromWin32(static_cast<DWORD>(status));
}

namespace {

bool IsValBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

// &H and &O prefixes: a 16-bit result when the digits fit in one, as the
// classic runtime typed them, else 32 bits.
double RadixNumber(const std::wstring& digits, int radix) {
    if (digits.empty()) return 0;
    unsigned long long v = std::wcstoull(digits.c_str(), nullptr, radix);
    if (v <= 0xFFFF) return static_cast<short>(static_cast<unsigned short>(v));
    return static_cast<long>(static_cast<unsigned long>(v & 0xFFFFFFFFu));
}

}  // namespace

double LeadingNumber(const std::wstring& text) {
    std::wstring compact;
    for (wchar_t c : text)
        if (!IsValBlank(c)) compact += c;

    size_t i = 0;
    if (i < compact.size() && compact[i] == L'&') {
        wchar_t kind = i + 1 < compact.size() ? static_cast<wchar_t>(towupper(compact[i + 1])) : 0;
        int radix = kind == L'H' ? 16 : 8;
        size_t start = kind == L'H' || kind == L'O' ? i + 2 : i + 1;
        const std::wstring allowed = radix == 16 ? L"0123456789abcdefABCDEF" : L"01234567";
        size_t end = start;
        while (end < compact.size() && allowed.find(compact[end]) != std::wstring::npos) ++end;
        return RadixNumber(compact.substr(start, end - start), radix);
    }

    // Sign, digits, one point, digits, then an exponent (E or D) that counts
    // only when digits follow it.  The point is always '.', whatever the locale.
    std::string number;
    if (i < compact.size() && (compact[i] == L'+' || compact[i] == L'-')) number += static_cast<char>(compact[i++]);
    bool digits = false;
    while (i < compact.size() && iswdigit(compact[i])) number += static_cast<char>(compact[i++]), digits = true;
    if (i < compact.size() && compact[i] == L'.') {
        number += '.';
        ++i;
        while (i < compact.size() && iswdigit(compact[i])) number += static_cast<char>(compact[i++]), digits = true;
    }
    if (!digits) return 0;
    if (i < compact.size() && (towupper(compact[i]) == L'E' || towupper(compact[i]) == L'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < compact.size() && (compact[j] == L'+' || compact[j] == L'-'))
            exponent += static_cast<char>(compact[j++]);
        bool expDigits = false;
        while (j < compact.size() && iswdigit(compact[j])) {
            exponent += static_cast<char>(compact[j++]);
            expDigits = true;
        }
        if (expDigits) number += exponent;
    }
    // The point is the invariant locale's; oleaut32's conversion, not the C
    // runtime's strtod (about 15 KB of the exe).
    std::wstring wide(number.begin(), number.end());
    double value = 0;
    HRESULT hr = VarR8FromStr(wide.data(), LOCALE_INVARIANT, 0, &value);
    if (hr == DISP_E_OVERFLOW) throw Failure::Overflow();
    if (FAILED(hr)) throw Failure::TypeMismatch();
    return value;
}

short ToInteger16(const std::wstring& text) {
    SHORT value = 0;
    HRESULT hr = VarI2FromStr(const_cast<OLECHAR*>(text.c_str()), LOCALE_USER_DEFAULT, 0, &value);
    if (hr == DISP_E_OVERFLOW) throw Failure::Overflow();
    if (FAILED(hr)) throw Failure::TypeMismatch();
    return value;
}
