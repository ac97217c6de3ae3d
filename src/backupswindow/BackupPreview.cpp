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

std::vector<std::string> PreviewRtf(const std::vector<DiffParagraph>& paragraphs,
                                    const std::vector<std::pair<size_t, size_t>>& matches) {
    std::vector<std::string> pieces{kHeader};
    size_t at = 0, match = 0, pieceStart = 0;  // place in the joined text; the next match; where the piece began
    bool lit = false;
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        std::string& rtf = pieces.back();
        for (const DiffSpan& span : paragraphs[p]) {
            rtf += span.kind == DiffKind::Deleted ? "{\\strike\\cf1 " : span.kind == DiffKind::Added ? "{\\ul\\cf2 " : "{";
            if (lit) rtf += "\\highlight3 ";
            for (wchar_t c : span.text) {
                while (match < matches.size() && at >= matches[match].second) ++match;
                const bool on = match < matches.size() && at >= matches[match].first;
                if (on != lit) rtf += on ? "\\highlight3 " : "\\highlight0 ";
                lit = on;
                AppendEscaped(rtf, c);
                ++at;
            }
            rtf += "}";
        }
        ++at;  // the paragraph end
        if (p + 1 == paragraphs.size()) break;
        // A piece never ends with a paragraph end: one streamed in at the end would lose it.
        if (at - pieceStart >= kPreviewPiece) {
            rtf += "}";
            pieces.push_back(kHeader);
            pieceStart = at;
        }
        pieces.back() += "\\par\n";
    }
    pieces.back() += "}";
    return pieces;
}

BackupPreview::BackupPreview(HWND parent, int id) : parent_(parent), id_(id) {
    // By full path: a msftedit.dll beside the program must not be loaded.
    const std::wstring folder = SystemFolder();
    library_ = folder.empty() ? nullptr : LoadLibraryW((folder + L"\\msftedit.dll").c_str());
    if (!library_) throw Failure::Text(L"The preview's text control (msftedit.dll) could not be loaded.");
    try {
        Make();
    } catch (const Failure&) {
        FreeLibrary(library_);
        throw;
    }
}

BackupPreview::~BackupPreview() {
    DestroyWindow(edit_);
    FreeLibrary(library_);
}

// A new control in the old one's place.  Wine's rich edit takes seconds to
// empty itself of a long text and milliseconds to be destroyed with it.
void BackupPreview::Make() {
    HWND old = edit_;
    RECT place{0, 0, 10, 10};
    if (old) {
        GetWindowRect(old, &place);
        MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&place), 2);
    }
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
                                ES_AUTOVSCROLL,
                            place.left, place.top, place.right - place.left, place.bottom - place.top, parent_,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!edit_) {
        edit_ = old;
        throw Failure::FromLastError();
    }
    SendMessageW(edit_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    if (old) {
        SendMessageW(edit_, WM_SETFONT, SendMessageW(old, WM_GETFONT, 0, 0), FALSE);
        SetWindowPos(edit_, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        const bool focused = GetFocus() == old;
        DestroyWindow(old);
        if (focused) SetFocus(edit_);
    }
    SetWindowLongPtrW(edit_, GWLP_ID, id_);
}

// Each piece after the first goes at the end of what is there.
void BackupPreview::Stream(const std::string& rtf) {
    CHARRANGE end{-1, -1};
    SendMessageW(edit_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
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
    SendMessageW(edit_, EM_STREAMIN, SF_RTF | SFF_SELECTION, reinterpret_cast<LPARAM>(&stream));
}

namespace {

// Where each occurrence of query lies in the paragraphs' text joined with '\n'.
std::vector<std::pair<size_t, size_t>> Matches(const std::vector<DiffParagraph>& paragraphs, const TextFold& fold,
                                               const std::wstring& query) {
    std::vector<std::pair<size_t, size_t>> matches;
    if (query.empty()) return matches;
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
    return matches;
}

size_t Length(const DiffParagraph& paragraph) {
    size_t n = 1;
    for (const DiffSpan& span : paragraph) n += span.text.size();
    return n;
}

}  // namespace

// A long text is shown by its changed and found paragraphs, each with the
// paragraph before and after it, and a line for what lies between.
std::vector<DiffParagraph> PreviewExcerpt(const std::vector<DiffParagraph>& paragraphs,
                                          const std::vector<std::pair<size_t, size_t>>& matches,
                                          std::vector<std::wstring>& notes) {
    size_t total = 0;
    for (const DiffParagraph& p : paragraphs) total += Length(p);
    if (total <= kPreviewWhole) return paragraphs;
    std::vector<bool> wanted(paragraphs.size());
    size_t at = 0, match = 0;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        const size_t end = at + Length(paragraphs[i]);
        bool marked = std::any_of(paragraphs[i].begin(), paragraphs[i].end(),
                                  [](const DiffSpan& s) { return s.kind != DiffKind::Same; });
        while (match < matches.size() && matches[match].first < end) marked = true, ++match;
        for (size_t k = i ? i - 1 : 0; marked && k <= i + 1 && k < paragraphs.size(); ++k) wanted[k] = true;
        at = end;
    }
    std::vector<DiffParagraph> excerpt;
    notes.clear();
    size_t shown = 0, skipped = 0;
    auto note = [&](std::wstring text) {
        notes.push_back(std::move(text));
        excerpt.push_back({{DiffKind::Same, notes.back()}});
    };
    notes.reserve(paragraphs.size() + 1);  // the excerpt's views point into notes
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (!wanted[i]) {
            ++skipped;
            continue;
        }
        if (skipped) note(L"[\u2026 " + std::to_wstring(skipped) + L" paragraphs without changes \u2026]");
        skipped = 0;
        if (shown > kPreviewWhole) {
            note(L"[\u2026 more further on: open a copy to see the whole document \u2026]");
            return excerpt;
        }
        excerpt.push_back(paragraphs[i]);
        shown += Length(paragraphs[i]);
    }
    if (skipped) note(L"[\u2026 " + std::to_wstring(skipped) + L" paragraphs without changes \u2026]");
    return excerpt;
}

PreviewContent PreviewOf(const std::vector<DiffParagraph>& paragraphs, const TextFold& fold,
                         const std::wstring& query) {
    std::vector<std::wstring> notes;
    const std::vector<DiffParagraph> excerpt = PreviewExcerpt(paragraphs, Matches(paragraphs, fold, query), notes);
    const std::vector<std::pair<size_t, size_t>> matches = Matches(excerpt, fold, query);
    return {PreviewRtf(excerpt, matches), matches.empty() ? 0 : static_cast<LONG>(matches[0].first)};
}

PreviewContent PreviewNote(const std::wstring& note) {
    std::string rtf = kHeader;
    for (wchar_t c : note) AppendEscaped(rtf, c);
    return {{rtf + "}"}, 0};
}

void BackupPreview::Show(PreviewContent content) {
    shown_ = std::move(content);
    next_ = 0;
    ShowMore();
}

bool BackupPreview::ShowMore() {
    if (next_ >= shown_.pieces.size()) return false;
    if (next_ == 0) Make();
    Stream(shown_.pieces[next_++]);
    if (next_ < shown_.pieces.size()) return true;
    CHARRANGE caret{shown_.caret, shown_.caret};
    SendMessageW(edit_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
    shown_ = {};
    return false;
}
