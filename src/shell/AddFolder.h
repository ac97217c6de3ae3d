#pragma once
// The folder picker: the shell's folder-browsing dialog, file-system
// folders only.  The calling thread must have initialised COM
// (apartment-threaded).
#include <windows.h>

#include <string>

// Shows the dialog modal to owner with title above the tree and start
// selected (the shell's default position when start is empty).  Answers the
// chosen folder's path, or empty text when the user cancels or the choice
// has no file-system path.
std::wstring BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start);

// The dialog's callback: selects the start folder when the dialog opens and
// shows the selected folder's path as its status text.  Always answers 0.
int CALLBACK BrowseCallbackProc(HWND dialog, UINT message, LPARAM lParam, LPARAM data);
