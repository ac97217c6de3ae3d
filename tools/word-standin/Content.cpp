#include "Content.h"

#include "common/Text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

std::wstring ContentFromText(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L'\r';
        } else if (c == L'\n') {
            out += L'\r';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == L'\r') out.pop_back();
    return out;
}

std::wstring ContentFromFile(std::string_view bytes) {
    if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) bytes.remove_prefix(3);
    return ContentFromText(FromUtf8(bytes));
}

std::wstring RangeText(const std::wstring& content) { return content + L'\r'; }

std::wstring ClipboardText(const std::wstring& content) {
    std::wstring out;
    out.reserve(content.size() + 2);
    for (wchar_t c : content) {
        if (c == L'\r') out += L"\r\n";
        else out += c;
    }
    out += L"\r\n";
    return out;
}

std::vector<std::wstring> Paragraphs(const std::wstring& content) {
    std::vector<std::wstring> out(1);
    for (wchar_t c : content) {
        if (c == L'\r') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

std::wstring JoinParagraphs(const std::vector<std::wstring>& paragraphs) {
    std::wstring out;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i) out += L'\r';
        out += paragraphs[i];
    }
    return out;
}

// ---- RTF -------------------------------------------------------------------

std::string RtfOf(const std::wstring& content) {
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Calibri;}}\\f0\\fs22 ";
    for (wchar_t c : content + L'\r') {
        switch (c) {
        case L'\\': out += "\\\\"; break;
        case L'{': out += "\\{"; break;
        case L'}': out += "\\}"; break;
        case L'\t': out += "\\tab "; break;
        case L'\r': out += "\\par\r\n"; break;
        case L'\v': out += "\\line "; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                // \uN takes a signed 16-bit number; "?" is the fallback that
                // a reader without Unicode support shows (\uc1).
                out += "\\u" + std::to_string(static_cast<short>(c)) + "?";
            }
        }
    }
    out += "}";
    return out;
}

namespace {

// Destinations whose text is not document text.
bool IsSkippedDestination(const std::string& word) {
    static const char* const kSkipped[] = {"fonttbl", "colortbl", "stylesheet", "info",     "pict",
                                           "header",  "footer",   "headerl",    "headerr",  "headerf",
                                           "footerl", "footerr",  "footerf",    "listtable", "listoverridetable",
                                           "rsidtbl", "generator", "themedata", "colorschememapping",
                                           "latentstyles", "datastore", "xmlnstbl", "object", "fldinst"};
    for (const char* s : kSkipped)
        if (word == s) return true;
    return false;
}

struct RtfReader {
    std::string_view in;
    size_t pos = 0;
    UINT codePage = 1252;
    std::wstring out;

    struct Group {
        bool skip = false;
        int uc = 1;
    };
    std::vector<Group> groups{Group{}};
    int pendingSkip = 0;  // fallback characters still to drop after \uN

    void emit(wchar_t c) {
        if (groups.back().skip) return;
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        out += c;
    }
    void emitByte(unsigned char b) {
        if (groups.back().skip) return;
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        char ch = static_cast<char>(b);
        wchar_t w = 0;
        if (MultiByteToWideChar(codePage, 0, &ch, 1, &w, 1) != 1) w = L'?';
        out += w;
    }

    void controlWord(const std::string& word, bool hasParam, long param, bool groupStart) {
        Group& g = groups.back();
        if (groupStart && IsSkippedDestination(word)) {
            g.skip = true;
            return;
        }
        if (word == "ansicpg" && hasParam) codePage = static_cast<UINT>(param);
        else if (word == "uc" && hasParam) g.uc = static_cast<int>(param);
        else if (word == "u" && hasParam) {
            long n = param < 0 ? param + 65536 : param;
            pendingSkip = 0;
            emit(static_cast<wchar_t>(n));
            pendingSkip = g.uc;
        } else if (word == "par" || word == "sect") {
            pendingSkip = 0;
            emit(L'\r');
        } else if (word == "line") emit(L'\v');
        else if (word == "tab") emit(L'\t');
        else if (word == "emdash") emit(L'\x2014');
        else if (word == "endash") emit(L'\x2013');
        else if (word == "bullet") emit(L'\x2022');
        else if (word == "lquote") emit(L'\x2018');
        else if (word == "rquote") emit(L'\x2019');
        else if (word == "ldblquote") emit(L'\x201C');
        else if (word == "rdblquote") emit(L'\x201D');
    }

    void run() {
        bool groupStart = false;
        while (pos < in.size()) {
            char c = in[pos++];
            if (c == '\0') break;
            if (c == '{') {
                groups.push_back(groups.back());
                groupStart = true;
                continue;
            }
            if (c == '}') {
                if (groups.size() > 1) groups.pop_back();
                pendingSkip = 0;
                groupStart = false;
                continue;
            }
            if (c == '\r' || c == '\n') continue;
            if (c != '\\') {
                emitByte(static_cast<unsigned char>(c));
                groupStart = false;
                continue;
            }
            if (pos >= in.size()) break;
            char d = in[pos++];
            if (d == '\\' || d == '{' || d == '}') {
                emit(static_cast<wchar_t>(d));
            } else if (d == '\'') {
                if (pos + 2 <= in.size()) {
                    char hex[3] = {in[pos], in[pos + 1], 0};
                    pos += 2;
                    emitByte(static_cast<unsigned char>(std::strtoul(hex, nullptr, 16)));
                }
            } else if (d == '*') {
                groups.back().skip = true;  // an optional destination we do not know
            } else if (d == '~') {
                emit(L'\xA0');
            } else if (d == '_') {
                emit(L'-');
            } else if (d == '\r' || d == '\n') {
                pendingSkip = 0;
                emit(L'\r');  // "\" before a line break is \par
            } else if ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z')) {
                std::string word(1, d);
                while (pos < in.size() && ((in[pos] >= 'a' && in[pos] <= 'z') || (in[pos] >= 'A' && in[pos] <= 'Z')))
                    word += in[pos++];
                bool hasParam = false;
                long param = 0;
                bool negative = false;
                if (pos < in.size() && in[pos] == '-') {
                    negative = true;
                    ++pos;
                }
                while (pos < in.size() && in[pos] >= '0' && in[pos] <= '9') {
                    hasParam = true;
                    param = param * 10 + (in[pos++] - '0');
                }
                if (negative) param = -param;
                if (pos < in.size() && in[pos] == ' ') ++pos;  // the delimiter belongs to the word
                controlWord(word, hasParam, param, groupStart);
            }
            // Other control symbols (\- \| \:) carry no text.
            groupStart = false;
        }
    }
};

}  // namespace

std::wstring TextOfRtf(std::string_view rtf) {
    RtfReader reader{rtf};
    reader.run();
    return reader.out;
}
