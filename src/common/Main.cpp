#include "common/Main.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Product.h"
#include "common/Text.h"

#include <oleauto.h>
#include <shlobj.h>

#include <cstdlib>

std::wstring GetSpecialFolderPath(int folderId) {
    UniquePidl item;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, item.put())) || !item) return {};
    // The wide call: an ANSI path loses every character outside the code
    // page, and the backup folder would then not exist.
    std::wstring buffer(512, L' ');
    SHGetPathFromIDListW(item.get(), buffer.data());
    return buffer;
}

std::wstring GetDesktopFolder() {
    std::wstring raw = GetSpecialFolderPath(0);
    auto nul = raw.rfind(L'\0');
    if (nul == std::wstring::npos) throw Failure::InvalidArgument();
    return raw.substr(0, nul) + L"\\";
}

std::wstring SecondsToClock(long seconds) {
    // A day fraction formatted as a time of day: wraps every 24 hours, and a
    // negative count shows the clock of its absolute value.
    long long s = std::llabs(static_cast<long long>(seconds)) % 86400;
    wchar_t text[16];
    wsprintfW(text, L"%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
              static_cast<int>(s % 60));
    return text;
}

std::wstring GetDecimalSeparator() {
    Bstr text;
    ThrowIfFailed(VarBstrFromR8(0.5, LOCALE_USER_DEFAULT, 0, text.put()));
    std::wstring half(text.get(), SysStringLen(text.get()));
    auto first = half.find_first_not_of(L' ');
    half = first == std::wstring::npos ? std::wstring() : half.substr(first);
    if (half.size() < 2) throw Failure::InvalidArgument();
    return half.substr(1, 1);
}

namespace {

// Replaces every non-overlapping pair of backslashes, left to right, by one.
std::wstring CollapsePairs(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'\\') ++i;
    }
    return out;
}

std::wstring TrimBlanks(const std::wstring& text) {
    auto first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

}  // namespace

std::wstring NormalizeBackslashes(const std::wstring& path) {
    if (path.empty() || path[0] != L'\\') return CollapsePairs(path);
    // Any leading run becomes exactly two: the start of a network path.
    size_t k = path.find_first_not_of(L'\\', 1);
    if (k == std::wstring::npos) k = path.size();
    return L"\\\\" + CollapsePairs(path.substr(k));
}

std::wstring RemoveLastWord(const std::wstring& text, const std::wstring& word) {
    size_t p = text.rfind(L' ');
    if (p == std::wstring::npos) return text;
    if (word.empty() || TrimBlanks(text.substr(p)) == word) return TrimBlanks(text.substr(0, p + 1));
    return text;
}

std::wstring StripFileNameChars(const std::wstring& text) {
    static constexpr std::wstring_view kRemoved = L"$/\\*:?<>|#' .,\"()-+=%;}{\t";
    std::wstring out;
    for (wchar_t c : text)
        if (kRemoved.find(c) == std::wstring_view::npos) out += c;
    return out;
}

UINT ClipboardFormatOf(long code) {
    switch (code) {
    case kFormatLink: return RegisterClipboardFormatW(L"Link");
    case kFormatRtf: return RegisterClipboardFormatW(L"Rich Text Format");
    default: return static_cast<UINT>(code);
    }
}

long GetClipboardFormat() {
    for (long code : kClipboardFormatCodes) {
        UINT format = ClipboardFormatOf(code);
        // A format that cannot even be asked about counts as present.
        if (format == 0 || IsClipboardFormatAvailable(format)) return code;
    }
    return 0;
}

namespace {
std::wstring& Title() {
    static std::wstring title = product::kTitle;
    return title;
}
}  // namespace

const std::wstring& ApplicationTitle() { return Title(); }

void SetApplicationTitle() {
    // Drop the last word, then further words until at most 40 characters
    // remain.  A title without a blank has no word to drop and stays whole.
    std::wstring title = product::kTitle;
    do {
        size_t p = title.rfind(L' ');
        if (p == std::wstring::npos) break;
        title.resize(p);
    } while (title.size() > 40);
    Title() = title;
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ProgramFolder() {
    const std::wstring path = ProgramPath();
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return path;
    if (slash == 2 && path[1] == L':') return path.substr(0, 3);  // drive root keeps its backslash
    return path.substr(0, slash);
}
