#pragma once
// The history file: one line per backup, and one per housekeeping pass.
#include <string>

// Appends one line and CR LF, in the ANSI code page, to the history file.
void AppendHistoryLine(const std::wstring& historyFile, const std::wstring& line);
