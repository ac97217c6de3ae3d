#include "Failure.h"
#include "StandIn.h"

#include <cstring>

namespace TestClipboard {

namespace {

class Opened {
public:
    Opened() {
        // Another process (a stand-in mid-Copy) may hold it for a moment.
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (OpenClipboard(nullptr)) return;
            Sleep(25);
        }
        throw Failure::Text(L"the clipboard could not be opened");
    }
    ~Opened() { CloseClipboard(); }
};

}  // namespace

UINT RtfFormat() { return RegisterClipboardFormatW(L"Rich Text Format"); }

bool Has(UINT format) {
    Opened clipboard;
    return IsClipboardFormatAvailable(format) != FALSE;
}

std::string Bytes(UINT format) {
    Opened clipboard;
    HANDLE data = GetClipboardData(format);
    if (!data) return {};
    const char* p = static_cast<const char*>(GlobalLock(data));
    if (!p) return {};
    std::string bytes(p, GlobalSize(data));
    GlobalUnlock(data);
    return bytes;
}

std::wstring UnicodeText() {
    std::string bytes = Bytes(CF_UNICODETEXT);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void Set(const std::vector<Item>& items) {
    // An owner window is needed: with a null owner EmptyClipboard leaves
    // SetClipboardData failing.
    // Kept for the process's life: the content stays whatever the owner does.
    static HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    bool ok = false;
    for (int attempt = 0; attempt < 200 && !ok; ++attempt) {
        ok = OpenClipboard(owner);
        if (!ok) Sleep(25);
    }
    if (!ok) {
        throw Failure::Text(L"the clipboard could not be opened");
    }
    EmptyClipboard();
    for (const Item& item : items) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, item.bytes.size() ? item.bytes.size() : 1);
        std::memcpy(GlobalLock(memory), item.bytes.data(), item.bytes.size());
        GlobalUnlock(memory);
        if (!SetClipboardData(item.format, memory)) GlobalFree(memory);
    }
    CloseClipboard();
}

void SetUnicodeText(const std::wstring& text) {
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    Set({{CF_UNICODETEXT, bytes}});
}

void Clear() { Set({}); }

}  // namespace TestClipboard
