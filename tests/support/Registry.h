#pragma once
// One-shot reads and writes of registry values, for tests that prepare or
// check what a program stores.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace reg {
// A REG_SZ value; nullopt when it is absent or of another type.
std::optional<std::wstring> GetString(HKEY root, const std::wstring& key, const std::wstring& name);
// Creates the key when needed; throws Failure when the write is refused.
void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
// The key, its subkeys and their values; nothing when it is absent.
void DeleteTree(HKEY root, const std::wstring& key);
// The names of a key's values; empty when the key is absent.
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key);
}  // namespace reg
