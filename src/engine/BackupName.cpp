#include "SaveWord.h"

#include "Failure.h"

namespace {

std::function<SYSTEMTIME()>& Clock() {
    static std::function<SYSTEMTIME()> clock;
    return clock;
}

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

}  // namespace

SYSTEMTIME LocalNow() {
    if (Clock()) return Clock()();
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

void SetClockForTests(std::function<SYSTEMTIME()> clock) { Clock() = std::move(clock); }

std::wstring BuildBackupName(const std::wstring& basePath, bool newFileMode, const std::wstring& docExtension) {
    SYSTEMTIME now = LocalNow();
    // "mmm d yyyy": the locale's abbreviated month name.
    std::wstring date = LocaleText(LOCALE_SABBREVMONTHNAME1 + now.wMonth - 1) + L" " + std::to_wstring(now.wDay) +
                        L" " + std::to_wstring(now.wYear);
    if (!newFileMode) return basePath + L" " + date + docExtension;

    // "hh mm ss AMPM": 12-hour clock, midnight and noon as 12.  A locale
    // without designators gets AM and PM, so the stamp never turns ambiguous.
    int hour = now.wHour % 12 == 0 ? 12 : now.wHour % 12;
    bool beforeNoon = now.wHour < 12;
    std::wstring designator = LocaleText(beforeNoon ? LOCALE_S1159 : LOCALE_S2359);
    if (designator.empty()) designator = beforeNoon ? L"AM" : L"PM";
    std::wstring time = TwoDigits(hour) + L" " + TwoDigits(now.wMinute) + L" " + TwoDigits(now.wSecond) + L" " +
                        designator;
    return basePath + L" Date " + date + L" Time " + time + docExtension;
}

std::wstring GeneralDate(const SYSTEMTIME& time) {
    wchar_t date[100] = {}, clock[100] = {};
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 100, nullptr);
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, clock, 100);
    return std::wstring(date) + L" " + clock;
}
