#pragma once
// Registry wrappers for the start-with-Windows entry.
#include <windows.h>

#include <string>

// The machine-wide Run key, as Windows reads it at every logon.
inline constexpr wchar_t kMachineRunKey[] = L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";
// The current user's Run key: the place for the entry when the machine-wide
// key is closed to a standard user.
inline constexpr wchar_t kUserRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Query value, set value, create subkey, enumerate subkeys, notify, create link.
inline constexpr REGSAM kRunKeyAccess = 0x3F;

// The two Run keys; tests point them at scratch keys.
struct RunKeys {
    HKEY machineHive = HKEY_LOCAL_MACHINE;
    std::wstring machineKey = kMachineRunKey;
    HKEY userHive = HKEY_CURRENT_USER;
    std::wstring userKey = kUserRunKey;
};

// The folder and the file name joined by exactly one backslash (a drive
// root already ends in one).
std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName);

// The Run entry's data: the full path in double quotes, so that a path with
// spaces can never be read as another program plus arguments.
std::wstring RunEntryData(const std::wstring& folder, const std::wstring& fileName);

// Writes the value fileName = quoted path of fileName in folder (the
// program's folder when not given) under the machine-wide Run key, or under
// the user's Run key when the machine-wide one cannot be written.
// Nothing is reported either way.
void SetRunEntry(const std::wstring& fileName);
void SetRunEntry(const std::wstring& folder, const std::wstring& fileName, const RunKeys& keys = {});

// Deletes the value fileName from both Run keys; a missing value is fine.
void DeleteRunEntry(const std::wstring& fileName, const RunKeys& keys = {});

// Opens hive\subkey with kRunKeyAccess and writes one REG_SZ value.  True
// when the value was written.
bool SaveValue(HKEY hive, const std::wstring& subkey, const std::wstring& name, const std::wstring& data);

// Opens hive\subkey as SaveValue does and deletes one value.  True when a
// value was deleted.
bool DeleteValue(HKEY hive, const std::wstring& subkey, const std::wstring& name);
