#pragma once
// Managed settings: an administrator's values under the policy keys, with
// the names and data of the user's settings.  The machine's policy wins
// over the user's policy, which wins over the user's own setting.  A policy
// value is read without regard to case and blanks around it; one that means
// nothing for its setting is no policy at all, and the user's setting
// applies.  A managed setting shows in its control, greyed, and is never
// written to the user's store.
#include "mainwindow/ControlIds.h"
#include "mainwindow/Settings.h"

#include <optional>
#include <span>
#include <string>

namespace policy {

inline constexpr wchar_t kKeyPath[] = L"SOFTWARE\\Policies\\Kelvane\\Orvelle";

// Only a policy: "Off" ends the occasional home-page visit.
inline constexpr wchar_t kHomePage[] = L"Home Page";

inline constexpr const wchar_t* kOnOff[] = {L"On", L"Off"};
inline constexpr const wchar_t* kOneOrTwo[] = {L"1", L"2"};
inline constexpr const wchar_t* kPositions[] = {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10"};
inline constexpr const wchar_t* kKeepDays[] = {L"0", L"1", L"7", L"30", L"thin"};

// One setting an administrator may set: its name, the values that mean
// something (in the spelling the program compares with; none: any text
// that is not blank) and the controls that show it.
struct Row {
    const wchar_t* name;
    std::span<const wchar_t* const> values;
    int controls[2];
};

inline constexpr Row kPolicies[] = {
    {settings::kPath, {}, {ids::Text1, ids::PushButton1}},
    {settings::kWhereOption, kOneOrTwo, {ids::Option1, ids::Option2}},
    {settings::kOftenIndex, kPositions, {ids::ListView1}},
    {settings::kBackupSwitch, kOnOff, {ids::PushButton4}},
    {settings::kBackupOption, kOneOrTwo, {ids::Option3, ids::Option4}},
    {settings::kWindowsStartup, kOnOff, {ids::Check5}},
    {settings::kMinimized, kOnOff, {ids::Check8}},
    {settings::kSkipUnchanged, kOnOff, {ids::Check9}},
    {settings::kKeepBackups, kKeepDays, {ids::Combo1}},
    {settings::kClipboardCopy, kOnOff, {ids::Check10}},
    {settings::kClosedUnsaved, kOnOff, {ids::Check11}},
    {settings::kLastMoment, kOnOff, {ids::Check12}},
    {kHomePage, kOnOff, {}},
};

// The value as the program spells it, or none when the text means nothing
// for the policy (or the name is no policy).
std::optional<std::wstring> Normalise(const std::wstring& name, const std::wstring& text);

// The value that a policy sets for the setting, machine first, or none.
std::optional<std::wstring> Value(const std::wstring& name);

}  // namespace policy

// The setting as the program uses it: the policy's value, else the user's
// stored one (read exactly), else the default.
std::wstring ChosenSetting(const std::wstring& key, const std::wstring& defaultValue = {});
// True when a policy sets the setting.
inline bool IsManaged(const std::wstring& key) { return policy::Value(key).has_value(); }
