#pragma once
// Paths between the two worlds of the bench: CTest hands over Unix paths,
// Windows programs under Wine see them on drive Z: (or wherever the prefix
// maps them).
#include <string>

// A Unix path as the Windows path Wine maps it to; Windows paths pass
// unchanged.
std::wstring WindowsPath(const std::wstring& path);
// A Windows path as the Unix path behind it; empty outside Wine.
std::wstring UnixPath(const std::wstring& path);

// The variable's value; empty when it is not set.
std::wstring EnvironmentVariable(const wchar_t* name);

// The folder of the built executables: %ORVELLE_BIN% (set by CTest), else
// this test's own folder.  No trailing backslash.
std::wstring BinFolder();

// A volume that the test bench stages where it may (package-volumes):
// "full" (64 KB) or "readonly", holding a file "staged"; empty when it
// could not (mounting needs root).
std::wstring StagedVolume(const wchar_t* name);
