#include "support/Registry.h"

#include "common/Failure.h"
#include "common/Handle.h"

namespace reg {

std::optional<std::wstring> GetString(HKEY root, const std::wstring& key, const std::wstring& name) {
    DWORD bytes = 0;
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    LSTATUS status = RegSetKeyValueW(root, key.c_str(), name.c_str(), REG_SZ, value.c_str(),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) throw Failure::FromWin32(status);
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    RegDeleteKeyValueW(root, key.c_str(), name.c_str());
}

void DeleteTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key) {
    std::vector<std::wstring> names;
    UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD chars = 16384;
        if (RegEnumValueW(k.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, chars);
    }
    return names;
}

}  // namespace reg
