#pragma once
// File existence and deletion that never fail towards the caller.
#include <string>

bool FileExists(const std::wstring& path);
void RemoveFile(const std::wstring& path);
// Deletes through the scripting runtime with force, so read-only files go too.
void ForceDeleteFile(const std::wstring& path);
