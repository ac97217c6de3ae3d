#pragma once
// The interval table: the list's item texts and the seconds each stands for.
#include <optional>
#include <string>

struct IntervalItem {
    const wchar_t* text;
    long seconds;
};
inline constexpr IntervalItem kIntervals[] = {
    {L"Save every 30 seconds", 30},   {L"Save every 1 minute", 60},     {L"Save every 5 minutes", 300},
    {L"Save every 15 minutes", 900},  {L"Save every 30 minutes", 1800}, {L"Save every hour", 3600},
    {L"Save every 2 hours", 7200},    {L"Save every 4 hours", 14400},   {L"Save every 8 hours", 28800},
    {L"Save every 24 hours", 86400},
};
// Seconds of the row whose text equals the selected item's text exactly, 0
// when none does; fails when no item is selected.
long GetIntervalSeconds(const std::optional<std::wstring>& selectedItemText);
