#include "Clipboard.h"

#include "common/ClipboardLock.h"
#include "common/Text.h"
#include "Content.h"
#include "Errors.h"

#include <cstring>

namespace {

// Another program (a clipboard viewer, the user's own Word) may hold the
// clipboard for a moment: wait up to two seconds, then fail as Word does.
class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND owner) : lock_(Open(owner)) {}
    std::string bytes(UINT format) const { return lock_.bytes(format); }

private:
    static ClipboardLock Open(HWND owner) try {
        return ClipboardLock(owner, std::chrono::seconds(2));
    } catch (const Failure&) {
        throw WordError(kErrorClipboard, L"The clipboard is in use by another program and could not be opened.");
    }
    ClipboardLock lock_;
};

void SetBytes(UINT format, const void* data, size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) throw WordError(kErrorClipboard, L"Not enough memory for the clipboard.");
    std::memcpy(GlobalLock(memory), data, size);
    GlobalUnlock(memory);
    if (!SetClipboardData(format, memory)) {
        GlobalFree(memory);
        throw WordError(kErrorClipboard, L"The content could not be put on the clipboard.");
    }
}

UINT RtfFormat() { return RegisterClipboardFormatW(L"Rich Text Format"); }

}  // namespace

void PutOnClipboard(HWND owner, const std::wstring& content) {
    std::wstring text = ClipboardText(content);
    std::string ansi = ToAnsi(text);
    std::string rtf = RtfOf(content);
    OpenedClipboard clipboard(owner);
    EmptyClipboard();
    SetBytes(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    SetBytes(CF_TEXT, ansi.c_str(), ansi.size() + 1);
    SetBytes(RtfFormat(), rtf.c_str(), rtf.size() + 1);
}

void PutTextOnClipboard(HWND owner, const std::wstring& text) {
    OpenedClipboard clipboard(owner);
    EmptyClipboard();
    SetBytes(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

std::wstring TakeFromClipboard(HWND owner) {
    OpenedClipboard clipboard(owner);
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        std::string bytes = clipboard.bytes(CF_UNICODETEXT);
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        text.resize(wcsnlen(text.c_str(), text.size()));
        return ContentFromText(text);
    }
    if (UINT rtf = RtfFormat(); rtf && IsClipboardFormatAvailable(rtf)) {
        std::string bytes = clipboard.bytes(rtf);
        bytes.resize(strnlen(bytes.c_str(), bytes.size()));
        return ContentFromText(TextOfRtf(bytes));
    }
    if (IsClipboardFormatAvailable(CF_TEXT)) {
        std::string bytes = clipboard.bytes(CF_TEXT);
        bytes.resize(strnlen(bytes.c_str(), bytes.size()));
        return ContentFromText(FromAnsi(bytes));
    }
    throw WordError(kErrorClipboard,
                    L"This method or property is not available because the Clipboard is empty or not valid.");
}
