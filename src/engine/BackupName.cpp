#include "engine/BackupName.h"

#include "common/Failure.h"
#include "common/Main.h"
#include "common/Services.h"
#include "common/Text.h"

#include <algorithm>
#include <cwchar>

namespace {

std::wstring LocaleText(LCTYPE type) {
    wchar_t text[80] = {};
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 80);
    return text;
}

std::wstring TwoDigits(int n) {
    wchar_t text[8];
    wsprintfW(text, L"%02d", n);
    return text;
}

// The before-noon and after-noon designators as stamps carry them: a locale
// without designators gets AM and PM, so the stamp never turns ambiguous.
std::wstring Designator(bool beforeNoon) {
    std::wstring designator = LocaleText(beforeNoon ? LOCALE_S1159 : LOCALE_S2359);
    return designator.empty() ? (beforeNoon ? L"AM" : L"PM") : designator;
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

std::wstring BuildBackupName(const std::wstring& basePath, bool newFileMode, const std::wstring& docExtension) {
    SYSTEMTIME now = LocalNow();
    // "mmm d yyyy": the locale's abbreviated month name.
    std::wstring date = LocaleText(LOCALE_SABBREVMONTHNAME1 + now.wMonth - 1) + L" " + std::to_wstring(now.wDay) +
                        L" " + std::to_wstring(now.wYear);
    if (!newFileMode) return basePath + L" " + date + docExtension;

    // "hh mm ss AMPM": 12-hour clock, midnight and noon as 12.
    int hour = now.wHour % 12 == 0 ? 12 : now.wHour % 12;
    std::wstring time = TwoDigits(hour) + L" " + TwoDigits(now.wMinute) + L" " + TwoDigits(now.wSecond) + L" " +
                        Designator(now.wHour < 12);
    return basePath + L" Date " + date + L" Time " + time + docExtension;
}

StampRule::StampRule() : am_(Designator(true)), pm_(Designator(false)) {
    for (int m = 0; m < 12; ++m) months_[m] = LocaleText(LOCALE_SABBREVMONTHNAME1 + m) + L" ";
}

bool StampRule::takeDate(std::wstring_view name, size_t& pos) const {
    bool month = false;
    for (int m = 0; m < 12 && !month; ++m) month = Take(name, pos, months_[m]);
    return month && TakeDigits(name, pos, 1, 2) && Take(name, pos, L" ") && TakeDigits(name, pos, 4, 4);
}

bool StampRule::takeTime(std::wstring_view name, size_t& pos) const {
    for (int part = 0; part < 3; ++part)
        if (!TakeDigits(name, pos, 2, 2) || !Take(name, pos, L" ")) return false;
    return Take(name, pos, am_) || Take(name, pos, pm_);
}

std::optional<BackupNameParts> StampRule::parse(std::wstring_view name) const {
    BackupNameParts parts;
    if (name.ends_with(kProtectedSuffix)) {
        parts.isProtected = true;
        name.remove_suffix(kProtectedSuffix.size());
    }
    for (std::wstring_view extension : kBackupExtensions)
        if (name.ends_with(extension)) {
            parts.extension = extension;
            break;
        }
    if (parts.extension.empty()) return std::nullopt;
    const std::wstring_view base = name.substr(0, name.size() - parts.extension.size());
    // Whatever the stamp ends with, only " (n)" may follow it.
    auto ends = [&](size_t pos) {
        size_t numbered = pos;
        int n = 0;
        if (Take(base, numbered, L" (") && TakeDigits(base, numbered, 1, 6, &n) && Take(base, numbered, L")")) {
            pos = numbered;
            parts.number = n;
        }
        return pos == base.size();
    };
    // The stamp holds no " Date ": the last one begins it.
    if (const size_t at = base.rfind(L" Date "); at != std::wstring_view::npos && at > 0) {
        size_t pos = at + 6;
        if (takeDate(base, pos) && Take(base, pos, L" Time ") && takeTime(base, pos) && ends(pos)) {
            parts.stem = base.substr(0, at);
            return parts;
        }
    }
    for (const std::wstring& month : months_) {
        const size_t at = base.rfind(L" " + month);
        if (at == std::wstring_view::npos || at == 0) continue;
        size_t pos = at + 1;
        parts.number = 0;
        if (takeDate(base, pos) && ends(pos)) {
            parts.stem = base.substr(0, at);
            parts.dayStamped = true;
            return parts;
        }
    }
    return std::nullopt;
}

bool StampRule::isStampedBackupOf(std::wstring_view name, std::wstring_view stem) const {
    const std::optional<BackupNameParts> parts = parse(name);
    return parts && !parts->dayStamped && parts->stem == stem;
}

bool IsStampedBackupOf(std::wstring_view name, std::wstring_view stem) {
    return StampRule().isStampedBackupOf(name, stem);
}

std::wstring ShortDate(const SYSTEMTIME& time) {
    wchar_t date[100] = {};
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 100, nullptr);
    return date;
}

std::wstring ShortTime(const SYSTEMTIME& time) {
    wchar_t clock[100] = {};
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, clock, 100);
    return clock;
}

std::wstring GeneralDate(const SYSTEMTIME& time) {
    wchar_t clock[100] = {};
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, clock, 100);
    return ShortDate(time) + L" " + clock;
}

namespace {

bool IsForbidden(wchar_t c) { return c < 32 || std::wcschr(L":/\\<>|?*\"", c) != nullptr; }

// Windows takes these for devices whatever follows a dot: "CON.txt" is CON.
bool IsDeviceName(std::wstring part) {
    while (!part.empty() && part.back() == L' ') part.pop_back();
    part = UpperCase(part);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (part == device) return true;
    return part.size() == 4 && (part.starts_with(L"COM") || part.starts_with(L"LPT")) &&
           ((part[3] >= L'1' && part[3] <= L'9') || part[3] == L'\u00b9' || part[3] == L'\u00b2' ||
            part[3] == L'\u00b3');
}

}  // namespace

std::wstring FileNameSafe(const std::wstring& documentName) {
    std::wstring name = documentName;
    if (name.empty()) name = L"_";
    std::replace_if(name.begin(), name.end(), IsForbidden, L'_');
    for (auto it = name.rbegin(); it != name.rend() && (*it == L' ' || *it == L'.'); ++it) *it = L'_';
    size_t dot = name.find(L'.');
    if (IsDeviceName(name.substr(0, dot))) name.insert(dot == std::wstring::npos ? name.size() : dot, L"_");
    return name;
}

std::wstring BackupPathFor(const std::wstring& folder, const std::wstring& documentName, bool newFileMode,
                           const std::wstring& docExtension) {
    constexpr size_t kSuffixRoom = 8;  // " (9999)"
    constexpr size_t kMaxFileName = 255;
    std::wstring name = FileNameSafe(documentName);
    auto build = [&] {
        return BuildBackupName(NormalizeBackslashes(NormalizeBackslashes(folder + L"\\" + name)), newFileMode,
                               docExtension);
    };
    std::wstring path = build();
    size_t fileName = path.size() - path.find_last_of(L'\\') - 1;
    size_t over = std::max(path.size() + kSuffixRoom > kMaxBackupPath ? path.size() + kSuffixRoom - kMaxBackupPath : 0,
                           fileName + kSuffixRoom > kMaxFileName ? fileName + kSuffixRoom - kMaxFileName : 0);
    // A folder too long for any name is left to fail where the file is written.
    if (over == 0 || over >= name.size()) return path;
    name = FileNameSafe(name.substr(0, name.size() - over));
    return build();
}

std::wstring NumberedPath(const std::wstring& path, const std::wstring& extension, int n) {
    if (n <= 1) return path;
    return path.substr(0, path.size() - extension.size()) + L" (" + std::to_wstring(n) + L")" + extension;
}
