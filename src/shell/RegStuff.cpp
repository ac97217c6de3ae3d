#include "shell/RegStuff.h"

#include "common/Handle.h"
#include "common/Main.h"

namespace {

// Every value this module writes is text, stored with its NUL.  A null
// subkey writes into the open key itself.
bool SetKeyValue(HKEY key, const wchar_t* subkey, const std::wstring& name, const std::wstring& data) {
    return RegSetKeyValueW(key, subkey, name.c_str(), REG_SZ, data.c_str(),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
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
    if (SaveValue(keys.machineHive, keys.machineKey, fileName, data)) return;
    // A standard user may not write the machine-wide key; the user's own Run
    // key starts the program at that user's logon, which is what was asked.
    SetKeyValue(keys.userHive, keys.userKey.c_str(), fileName, data);
}

void DeleteRunEntry(const std::wstring& fileName, const RunKeys& keys) {
    DeleteValue(keys.machineHive, keys.machineKey, fileName);
    RegDeleteKeyValueW(keys.userHive, keys.userKey.c_str(), fileName.c_str());
}

bool SaveValue(HKEY hive, const std::wstring& subkey, const std::wstring& name, const std::wstring& data) {
    UniqueKey key;
    if (RegOpenKeyExW(hive, subkey.c_str(), 0, kRunKeyAccess, key.put()) != ERROR_SUCCESS) return false;
    return SetKeyValue(key.get(), nullptr, name, data);
}

bool DeleteValue(HKEY hive, const std::wstring& subkey, const std::wstring& name) {
    UniqueKey key;
    if (RegOpenKeyExW(hive, subkey.c_str(), 0, kRunKeyAccess, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}
