#pragma once
// Small stateless routines shared by the engine and the main window.
#include <windows.h>

#include <string>

std::wstring GetSpecialFolderPath(int folderId);
std::wstring GetDesktopFolder();
std::wstring SecondsToClock(long seconds);
std::wstring GetDecimalSeparator();
std::wstring NormalizeBackslashes(const std::wstring& path);
std::wstring RemoveLastWord(const std::wstring& text, const std::wstring& word);
std::wstring StripFileNameChars(const std::wstring& text);

// The clipboard format codes of the classic runtime, asked in this order.
inline constexpr long kClipboardFormatCodes[] = {-16640, 1, -16639, 2, 8, 14, 3, 9};
inline constexpr long kFormatLink = -16640, kFormatText = 1, kFormatRtf = -16639, kFormatBitmap = 2,
                      kFormatDib = 8, kFormatEnhMetafile = 14, kFormatMetafile = 3, kFormatPalette = 9;
// The real clipboard format behind one of those codes (0 if it cannot be had).
UINT ClipboardFormatOf(long code);
long GetClipboardFormat();

// The caption of every message box shown without one of its own.
const std::wstring& ApplicationTitle();
void SetApplicationTitle();

// Windows' own folders, for the DLLs and programs that must come from there
// and not from beside this program: System32, and the shared Windows folder.
// Empty when the system does not say.
std::wstring SystemFolder();
std::wstring WindowsFolder();

// The folder of the running program, as the runtime names it: no trailing
// backslash, except at a drive root.
std::wstring ProgramFolder();
// The running program's own file, its full path (GetModuleFileNameW).
std::wstring ProgramPath();
