#include "engine/StampRule.h"

#include <windows.h>

namespace {

std::wstring LocaleText(LCTYPE type) {
    wchar_t text[80] = {};
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 80);
    return text;
}

// Consumes text at pos when it starts with word.
bool Take(std::wstring_view text, size_t& pos, std::wstring_view word) {
    if (word.empty() || text.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
}

// Consumes between min and max decimal digits.
bool TakeDigits(std::wstring_view text, size_t& pos, size_t min, size_t max, int* value = nullptr) {
    size_t start = pos;
    int n = 0;
    while (pos < text.size() && pos - start < max && text[pos] >= L'0' && text[pos] <= L'9') n = n * 10 + (text[pos++] - L'0');
    if (value) *value = n;
    return pos - start >= min;
}

}  // namespace

StampRule::StampRule() {
    for (int m = 0; m < 12; ++m) months_[m] = LocaleText(LOCALE_SABBREVMONTHNAME1 + m) + L" ";
    am_ = LocaleText(LOCALE_S1159);
    pm_ = LocaleText(LOCALE_S2359);
    if (am_.empty()) am_ = L"AM";
    if (pm_.empty()) pm_ = L"PM";
}

bool StampRule::takeDate(std::wstring_view name, size_t& pos) const {
    bool month = false;
    for (int m = 0; m < 12 && !month; ++m) month = Take(name, pos, months_[m]);
    return month && TakeDigits(name, pos, 1, 2) && Take(name, pos, L" ") && TakeDigits(name, pos, 4, 4);
}

bool StampRule::takeEnd(std::wstring_view name, size_t pos, std::wstring_view extension, int* number) {
    int n = 0;
    size_t numbered = pos;
    if (Take(name, numbered, L" (") && TakeDigits(name, numbered, 1, 6, &n) && Take(name, numbered, L")")) pos = numbered;
    else n = 0;
    if (!Take(name, pos, extension) || pos != name.size()) return false;
    if (number) *number = n;
    return true;
}

bool StampRule::isStamped(std::wstring_view name, std::wstring_view stem, std::wstring_view extension,
                          int* number) const {
    size_t pos = 0;
    if (!Take(name, pos, stem) || !Take(name, pos, L" Date ") || !takeDate(name, pos) || !Take(name, pos, L" Time "))
        return false;
    for (int part = 0; part < 3; ++part)
        if (!TakeDigits(name, pos, 2, 2) || !Take(name, pos, L" ")) return false;
    if (!Take(name, pos, am_) && !Take(name, pos, pm_)) return false;
    return takeEnd(name, pos, extension, number);
}

std::optional<std::wstring_view> StampRule::stampedStem(std::wstring_view name, std::wstring_view extension,
                                                        int* number) const {
    // The stamp holds no " Date ": the last one begins it.
    const size_t at = name.rfind(L" Date ");
    if (at == std::wstring_view::npos || at == 0) return std::nullopt;
    const std::wstring_view stem = name.substr(0, at);
    if (!isStamped(name, stem, extension, number)) return std::nullopt;
    return stem;
}

std::optional<std::wstring_view> StampRule::dayStem(std::wstring_view name, std::wstring_view extension,
                                                    int* number) const {
    for (const std::wstring& month : months_) {
        const size_t at = name.rfind(L" " + month);
        if (at == std::wstring_view::npos || at == 0) continue;
        size_t pos = at + 1;
        if (takeDate(name, pos) && takeEnd(name, pos, extension, number)) return name.substr(0, at);
    }
    return std::nullopt;
}
