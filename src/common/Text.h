#pragma once
// Conversions at the edges where a stored format or an API wants bytes, and
// the upper case that paths and names are compared in.
#include <string>
#include <string_view>

std::string ToAnsi(std::wstring_view text);      // the system's ANSI code page
std::wstring FromAnsi(std::string_view text);
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// Upper case as the file system compares names.
std::wstring UpperCase(std::wstring text);

// Equal as Windows compares file names: ordinal, without regard to case.
bool SameText(std::wstring_view a, std::wstring_view b);
