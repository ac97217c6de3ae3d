#pragma once
// The real clipboard as tests set and read it.  Another process (a stand-in
// mid-Copy, the program in a backup run) may hold it for a moment, so every
// opening waits a few seconds before it fails with Failure.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace TestClipboard {

// The test's own window for writes: Windows refuses SetClipboardData on a
// clipboard that was opened without an owner and then emptied.
HWND Owner();
UINT RtfFormat();  // the registered "Rich Text Format"

bool Has(UINT format);
std::string Bytes(UINT format);  // exactly GlobalSize bytes, NUL included if stored
// CF_UNICODETEXT up to its NUL; nullopt when the clipboard holds none.
std::optional<std::wstring> Text();
std::wstring UnicodeText();  // Text(), empty when there is none

// Empties the clipboard and puts these formats on it (bytes as given).
struct Item {
    UINT format;
    std::string bytes;
};
void Set(const std::vector<Item>& items);
void SetUnicodeText(const std::wstring& text);
void Clear();
// One format onto a clipboard that the caller has opened with Owner();
// false when the clipboard refused it.
bool Put(UINT format, const std::string& bytes);

}  // namespace TestClipboard
