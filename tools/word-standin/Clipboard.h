#pragma once
// Copy and Paste on the real system clipboard.
#include <windows.h>

#include <string>

// Unicode text, ANSI text and "Rich Text Format" of the content (whole
// document, final paragraph mark included).
void PutOnClipboard(HWND owner, const std::wstring& content);
// Only this Unicode text, as another program would copy it.
void PutTextOnClipboard(HWND owner, const std::wstring& text);
// The clipboard's text, preferring Unicode text, then RTF, then ANSI text,
// as document content.
std::wstring TakeFromClipboard(HWND owner);
