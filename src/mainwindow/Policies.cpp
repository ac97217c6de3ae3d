#include "mainwindow/Policies.h"

#include "common/Text.h"

#include <windows.h>

namespace policy {

namespace {

const Row* RowOf(const std::wstring& name) {
    for (const Row& row : kPolicies)
        if (name == row.name) return &row;
    return nullptr;
}

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// A REG_EXPAND_SZ comes back expanded ("%USERPROFILE%\Backups"); a value of
// another type is not a policy of ours.
std::optional<std::wstring> ReadText(HKEY hive, const std::wstring& name) {
    DWORD bytes = 0;
    if (RegGetValueW(hive, kKeyPath, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(hive, kKeyPath, name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), size / sizeof(wchar_t)));
    return text;
}

}  // namespace

std::optional<std::wstring> Normalise(const std::wstring& name, const std::wstring& text) {
    const Row* row = RowOf(name);
    const std::wstring value = Trimmed(text);
    if (!row || value.empty()) return std::nullopt;
    if (row->values.empty()) return value;
    for (const wchar_t* known : row->values)
        if (SameText(value, known)) return std::wstring(known);
    return std::nullopt;
}

std::optional<std::wstring> Value(const std::wstring& name) {
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        if (std::optional<std::wstring> text = ReadText(hive, name))
            if (std::optional<std::wstring> value = Normalise(name, *text)) return value;
    return std::nullopt;
}

}  // namespace policy

std::wstring ChosenSetting(const std::wstring& key, const std::wstring& defaultValue) {
    if (std::optional<std::wstring> managed = policy::Value(key)) return *managed;
    return GetSetting(key, defaultValue);
}
