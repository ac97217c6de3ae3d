#include "backupswindow/BackupPreview.h"

#include "common/Failure.h"
#include "common/Main.h"

#include <richedit.h>

#include <algorithm>

namespace {

// Colour table entries: 1 deleted (red), 2 added (green), 3 a match's ground.
constexpr char kHeader[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Segoe UI;}}"
    "{\\colortbl ;\\red192\\green0\\blue0;\\red0\\green128\\blue0;\\red255\\green236\\blue110;}\\f0\\fs18 ";

void AppendEscaped(std::string& rtf, wchar_t c) {
    switch (c) {
    case L'\\': rtf += "\\\\"; return;
    case L'{': rtf += "\\{"; return;
    case L'}': rtf += "\\}"; return;
    case L'\t': rtf += "\\tab "; return;
    case L'\v': rtf += "\\line "; return;
    default: break;
    }
    if (c >= 0x20 && c < 0x80) rtf += static_cast<char>(c);
    else if (c >= 0x20 || c == 0) rtf += "\\u" + std::to_string(static_cast<short>(c)) + "?";
}

}  // namespace

std::string PreviewRtf(const std::vector<DiffParagraph>& paragraphs,
                       const std::vector<std::pair<size_t, size_t>>& matches) {
    std::string rtf = kHeader;
    size_t at = 0, match = 0;  // place in the joined text; the next match
    bool lit = false;
    auto light = [&](bool on) {
        if (on != lit) rtf += on ? "\\highlight3 " : "\\highlight0 ";
        lit = on;
    };
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        for (const DiffSpan& span : paragraphs[p]) {
            rtf += span.kind == DiffKind::Deleted ? "{\\strike\\cf1 " : span.kind == DiffKind::Added ? "{\\ul\\cf2 " : "{";
            if (lit) rtf += "\\highlight3 ";
            for (wchar_t c : span.text) {
                while (match < matches.size() && at >= matches[match].second) ++match;
                light(match < matches.size() && at >= matches[match].first);
                AppendEscaped(rtf, c);
                ++at;
            }
            rtf += "}";
        }
        ++at;  // the paragraph end
        if (p + 1 < paragraphs.size()) rtf += "\\par\n";
    }
    return rtf + "}";
}

BackupPreview::BackupPreview(HWND parent, int id) {
    // By full path: a msftedit.dll beside the program must not be loaded.
    const std::wstring folder = SystemFolder();
    library_ = folder.empty() ? nullptr : LoadLibraryW((folder + L"\\msftedit.dll").c_str());
    if (!library_) throw Failure::Text(L"The preview's text control (msftedit.dll) could not be loaded.");
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
                                ES_AUTOVSCROLL,
                            0, 0, 10, 10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
    if (!edit_) {
        const Failure failure = Failure::FromLastError();
        FreeLibrary(library_);
        throw failure;
    }
    SendMessageW(edit_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
}

BackupPreview::~BackupPreview() {
    DestroyWindow(edit_);
    FreeLibrary(library_);
}

void BackupPreview::Stream(const std::string& rtf) {
    struct Source {
        const std::string* rtf;
        size_t at;
    } source{&rtf, 0};
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = [](DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) -> DWORD {
        auto& s = *reinterpret_cast<Source*>(cookie);
        const size_t n = std::min(static_cast<size_t>(wanted), s.rtf->size() - s.at);
        std::copy_n(s.rtf->data() + s.at, n, buffer);
        s.at += n;
        *given = static_cast<LONG>(n);
        return 0;
    };
    SendMessageW(edit_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(edit_, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    SendMessageW(edit_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(edit_, nullptr, TRUE);
}

void BackupPreview::Show(const std::vector<DiffParagraph>& paragraphs, const TextFold& fold,
                         const std::wstring& query) {
    std::vector<std::pair<size_t, size_t>> matches;
    if (!query.empty()) {
        std::wstring joined;
        for (const DiffParagraph& paragraph : paragraphs) {
            for (const DiffSpan& span : paragraph) joined += span.text;
            joined += L'\n';
        }
        std::vector<std::uint32_t> origins;
        const std::wstring folded = fold.fold(joined, &origins);
        for (size_t at = FindFolded(folded, query); at != std::wstring::npos;
             at = FindFolded(folded, query, at + query.size()))
            matches.emplace_back(origins[at], origins[at + query.size() - 1] + 1);
    }
    Stream(PreviewRtf(paragraphs, matches));
    CHARRANGE first{0, 0};
    if (!matches.empty()) first = {static_cast<LONG>(matches[0].first), static_cast<LONG>(matches[0].first)};
    SendMessageW(edit_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&first));
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
}

void BackupPreview::ShowNote(const std::wstring& note) {
    std::string rtf = kHeader;
    for (wchar_t c : note) AppendEscaped(rtf, c);
    Stream(rtf + "}");
}
