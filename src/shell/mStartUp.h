#pragma once
// The start-with-Windows operations behind "Load this software on Windows
// startup".  They never fail towards the caller and report nothing.
#include "shell/RegStuff.h"

#include <string>

// The name of the first "*.exe" file in folder that is neither hidden nor
// system (folders never count); empty when there is none.
std::wstring ProgramFileName(const std::wstring& folder);

// Enters the program file of the program's folder in the Run key.
void AddToStartup();
// Removes that entry again (from the machine-wide and the user's Run key).
void RemoveFromStartup();

// The same for a given folder and Run keys.
void AddToStartup(const std::wstring& folder, const RunKeys& keys = {});
void RemoveFromStartup(const std::wstring& folder, const RunKeys& keys = {});
