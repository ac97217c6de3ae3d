#include "engine/JournalLine.h"

#include "common/Text.h"

#include <algorithm>

namespace {

constexpr std::string_view kEnd = "$";  // the last field: a line written whole

// UTF-8, with "%" and control characters as %XX so that tabs and line feeds
// only ever separate.
void AppendField(std::string& line, const std::wstring& text) {
    const std::string utf8 = ToUtf8(text);
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : utf8) {
        if (c < 0x20 || c == '%') {
            line += '%';
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
    line += '\t';
}

void AppendNumber(std::string& line, std::uint64_t n) {
    line += std::to_string(n);
    line += '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::wstring DocumentIdentity::key() const {
    std::wstring key = UpperCase(name);
    if (neverSaved) key += L"|" + std::to_wstring(process.id) + L"|" + std::to_wstring(process.started);
    return key;
}
bool JournalText(std::string_view field, std::wstring& text) {
    std::string unescaped;
    if (field.find('%') != std::string_view::npos) {
        for (size_t i = 0; i < field.size(); ++i) {
            if (field[i] != '%') {
                unescaped += field[i];
                continue;
            }
            if (i + 2 >= field.size()) return false;
            const int high = HexDigit(field[i + 1]), low = HexDigit(field[i + 2]);
            if (high < 0 || low < 0) return false;
            unescaped += static_cast<char>(high * 16 + low);
            i += 2;
        }
        field = unescaped;
    }
    // Paths and names are mostly ASCII: widened here, which is many times
    // faster than a call per field (a 200,000-line journal is read at once).
    if (std::all_of(field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        text.assign(field.begin(), field.end());
        return true;
    }
    text.resize(field.size());
    const int n = field.empty() ? 0
                                : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, field.data(),
                                                      static_cast<int>(field.size()), text.data(),
                                                      static_cast<int>(text.size()));
    if (n == 0 && !field.empty()) return false;
    text.resize(n);
    return true;
}

bool JournalNumber(std::string_view field, std::uint64_t& n) {
    if (field.empty() || field.size() > 20) return false;
    n = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}


void UpperHash::add(wchar_t c) { hash_ = (hash_ ^ static_cast<std::uint16_t>(c)) * 1099511628211ull; }

void UpperHash::add(std::wstring_view text) {
        if (std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; })) {
            for (wchar_t c : text) add(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c);
            return;
        }
        for (wchar_t c : UpperCase(text)) add(c);
    }
bool UpperHash::addField(std::string_view field) {
        const std::uint64_t before = hash_;
        std::uint64_t hash = hash_;
        bool plain = true;
        for (char c : field) {
            if (c <= 0 || c == '%') {
                plain = false;
                break;
            }
            hash = (hash ^ static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c)) * 1099511628211ull;
        }
        if (plain) {
            hash_ = hash;
            return true;
        }
        hash_ = before;
        std::wstring text;
        if (!JournalText(field, text)) return false;
        add(text);
        return true;
    }

std::uint64_t HashOf(std::wstring_view text) {
    UpperHash hash;
    hash.add(text);
    return hash.value();
}

// The fields of a line, none when it is not a whole record.
std::optional<JournalFields> SplitJournalLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    JournalFields fields;
    size_t from = 0;
    for (size_t i = 0; i < kJournalFields; ++i) {
        const size_t tab = line.find('\t', from);
        if ((tab == std::string_view::npos) != (i + 1 == kJournalFields)) return std::nullopt;
        fields[i] = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        from = tab + 1;
    }
    if (fields[kJournalFields - 1] != kEnd || (fields[0] != "B" && fields[0] != "D")) return std::nullopt;
    return fields;
}

std::string FormatJournalLine(const JournalRecord& r) {
    std::string line(r.deleted ? "D\t" : "B\t");
    for (std::uint64_t n : {r.written, r.size, r.firstBackup}) AppendNumber(line, n);
    line += static_cast<char>(r.unsaved);
    line += '\t';
    for (std::uint64_t n : {std::uint64_t{r.document.neverSaved}, std::uint64_t{r.document.process.id},
                            r.document.process.started})
        AppendNumber(line, n);
    for (const std::wstring* text : {&r.document.name, &r.displayName, &r.path}) AppendField(line, *text);
    line += kEnd;
    line += '\n';
    return line;
}

std::optional<JournalRecord> ParseJournalLine(std::string_view line) {
    const auto split = SplitJournalLine(line);
    if (!split) return std::nullopt;
    const JournalFields& fields = *split;
    JournalRecord r;
    r.deleted = fields[0] == "D";
    std::uint64_t neverSaved = 0, id = 0;
    if (!JournalNumber(fields[1], r.written) || !JournalNumber(fields[2], r.size) || !JournalNumber(fields[3], r.firstBackup) ||
        fields[4].size() != 1 || !JournalNumber(fields[5], neverSaved) || neverSaved > 1 || !JournalNumber(fields[6], id) ||
        id > 0xFFFFFFFFu || !JournalNumber(fields[7], r.document.process.started) ||
        !JournalText(fields[8], r.document.name) || !JournalText(fields[9], r.displayName) || !JournalText(fields[10], r.path) ||
        r.path.empty())
        return std::nullopt;
    const char unsaved = fields[4][0];
    if (unsaved != '?' && unsaved != '0' && unsaved != '1') return std::nullopt;
    r.unsaved = static_cast<UnsavedChanges>(unsaved);
    r.document.neverSaved = neverSaved == 1;
    r.document.process.id = static_cast<DWORD>(id);
    return r;
}
