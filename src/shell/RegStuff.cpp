#include "RegStuff.h"

#include "Failure.h"
#include "Handle.h"
#include "Main.h"

#include <cwctype>
#include <limits>

namespace {

// Decimal text to a 32-bit number, blanks around it allowed.
DWORD ToDword(const std::wstring& text) {
    size_t i = 0, end = text.size();
    while (i < end && text[i] == L' ') ++i;
    while (end > i && text[end - 1] == L' ') --end;
    bool negative = false;
    if (i < end && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    if (i == end) throw Failure::TypeMismatch();
    long long value = 0;
    for (; i < end; ++i) {
        if (!std::iswdigit(text[i])) throw Failure::TypeMismatch();
        value = value * 10 + (text[i] - L'0');
        if (value > 2147483648LL) throw Failure::Overflow();
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) throw Failure::Overflow();
    return static_cast<DWORD>(static_cast<int32_t>(value));
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName) {
    if (!folder.empty() && folder.back() == L'\\') return folder + fileName;
    return folder + L'\\' + fileName;
}

std::wstring RunEntryData(const std::wstring& folder, const std::wstring& fileName) {
    return L'"' + JoinPath(folder, fileName) + L'"';
}

void SetRunEntry(const std::wstring& fileName) { SetRunEntry(ProgramFolder(), fileName); }

void SetRunEntry(const std::wstring& folder, const std::wstring& fileName, const RunKeys& keys) {
    const std::wstring data = RunEntryData(folder, fileName);
    if (SaveValue(keys.machineHive, keys.machineKey, fileName, data, REG_SZ)) return;
    // A standard user may not write the machine-wide key; the user's own Run
    // key starts the program at that user's logon, which is what was asked.
    RegSetKeyValueW(keys.userHive, keys.userKey.c_str(), fileName.c_str(), REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void DeleteRunEntry(const std::wstring& fileName, const RunKeys& keys) {
    DeleteValue(keys.machineHive, keys.machineKey, fileName);
    RegDeleteKeyValueW(keys.userHive, keys.userKey.c_str(), fileName.c_str());
}

bool SaveValue(HKEY hive, const std::wstring& subkey, const std::wstring& name, const std::wstring& data, DWORD type) {
    UniqueKey key;
    if (RegOpenKeyExW(hive, subkey.c_str(), 0, kRunKeyAccess, key.put()) != ERROR_SUCCESS) return false;
    return SetKeyValue(key.get(), name, type, data) == ERROR_SUCCESS && (type == REG_SZ || type == REG_DWORD);
}

LONG SetKeyValue(HKEY key, const std::wstring& name, DWORD type, const std::wstring& data) {
    switch (type) {
    case REG_SZ:
        return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    case REG_DWORD: {
        DWORD value = ToDword(data);
        return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    default:
        return ERROR_SUCCESS;
    }
}

bool DeleteValue(HKEY hive, const std::wstring& subkey, const std::wstring& name) {
    UniqueKey key;
    if (RegOpenKeyExW(hive, subkey.c_str(), 0, kRunKeyAccess, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}
