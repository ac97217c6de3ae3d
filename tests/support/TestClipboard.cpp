#include "common/ClipboardLock.h"
#include "common/Failure.h"
#include "StandIn.h"

#include <cstring>

namespace TestClipboard {

namespace {

// Another process (a stand-in mid-Copy) may hold it for a moment.
constexpr auto kPatience = std::chrono::seconds(5);

// Writes need an owner window: with a null owner EmptyClipboard leaves
// SetClipboardData failing.  Kept for the process's life, so the content
// stays whatever happens to the thread that wrote it.
HWND Owner() {
    static HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner;
}

}  // namespace

UINT RtfFormat() { return RegisterClipboardFormatW(L"Rich Text Format"); }

bool Has(UINT format) {
    ClipboardLock clipboard(nullptr, kPatience);
    return IsClipboardFormatAvailable(format) != FALSE;
}

std::string Bytes(UINT format) { return ClipboardLock(nullptr, kPatience).bytes(format); }

std::wstring UnicodeText() {
    std::string bytes = Bytes(CF_UNICODETEXT);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void Set(const std::vector<Item>& items) {
    ClipboardLock clipboard(Owner(), kPatience);
    EmptyClipboard();
    for (const Item& item : items) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, item.bytes.size() ? item.bytes.size() : 1);
        std::memcpy(GlobalLock(memory), item.bytes.data(), item.bytes.size());
        GlobalUnlock(memory);
        if (!SetClipboardData(item.format, memory)) GlobalFree(memory);
    }
}

void SetUnicodeText(const std::wstring& text) {
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    Set({{CF_UNICODETEXT, bytes}});
}

void Clear() { Set({}); }

}  // namespace TestClipboard
