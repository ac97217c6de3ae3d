#include "support/Clipboard.h"

#include "common/ClipboardLock.h"

#include <cstring>

namespace TestClipboard {

namespace {
constexpr auto kPatience = std::chrono::seconds(5);
}  // namespace

// Kept for the process's life, so the content stays whatever happens to the
// thread that wrote it.
HWND Owner() {
    static HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner;
}

UINT RtfFormat() { return RegisterClipboardFormatW(L"Rich Text Format"); }

bool Has(UINT format) {
    ClipboardLock clipboard(nullptr, kPatience);
    return IsClipboardFormatAvailable(format) != FALSE;
}

std::string Bytes(UINT format) { return ClipboardLock(nullptr, kPatience).bytes(format); }

std::optional<std::wstring> Text() {
    ClipboardLock clipboard(nullptr, kPatience);
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return std::nullopt;
    std::string bytes = clipboard.bytes(CF_UNICODETEXT);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::wstring UnicodeText() { return Text().value_or(L""); }

bool Put(UINT format, const std::string& bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    std::memcpy(GlobalLock(memory), bytes.data(), bytes.size());
    GlobalUnlock(memory);
    if (SetClipboardData(format, memory)) return true;
    GlobalFree(memory);
    return false;
}

void Set(const std::vector<Item>& items) {
    ClipboardLock clipboard(Owner(), kPatience);
    EmptyClipboard();
    for (const Item& item : items) Put(item.format, item.bytes);
}

void SetUnicodeText(const std::wstring& text) {
    Set({{CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t))}});
}

void Clear() { Set({}); }

}  // namespace TestClipboard
