#pragma once
// Conversions at the edges where a stored format or an API wants bytes, and
// the upper case that paths and names are compared in.
#include <string>
#include <string_view>

std::string ToAnsi(std::wstring_view text);      // the system's ANSI code page
std::wstring FromAnsi(std::string_view text);
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// Upper case as the file system compares names; the appending form builds
// keys without a copy of each part.
std::wstring UpperCase(std::wstring_view text);
void AppendUpperCase(std::wstring& to, std::wstring_view text);

// Equal as Windows compares file names: ordinal, without regard to case.
bool SameText(std::wstring_view a, std::wstring_view b);
