#pragma once
// Bytes only the current Windows user can read back (DPAPI).  crypt32.dll is
// loaded at the first call, from System32: most runs never need it.
#include <string>
#include <string_view>

// The protected form of bytes; description is stored with it in clear (it
// names the document).  Throws Failure.
std::string ProtectForUser(std::string_view bytes, const std::wstring& description);
// The bytes back from ProtectForUser's output, for this user only.  Throws
// Failure (another user's data, damaged data).
std::string UnprotectForUser(std::string_view protectedBytes);
