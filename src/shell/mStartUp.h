#pragma once
// The start-with-Windows operations behind "Load this software on Windows
// startup".  They never fail towards the caller and report nothing.
#include "shell/RegStuff.h"

#include <string>

// Enters the running program itself in the Run key: a value named after its
// file, holding its full path.  Another program in the same folder (a
// portable copy in Downloads) is never the one that starts at logon.
void AddToStartup();
// Removes that entry again (from the machine-wide and the user's Run key).
void RemoveFromStartup();

// The same for a given program file and Run keys.
void AddToStartup(const std::wstring& program, const RunKeys& keys = {});
void RemoveFromStartup(const std::wstring& program, const RunKeys& keys = {});
