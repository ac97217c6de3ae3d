#include "Control.h"

#include "common/Handle.h"
#include "common/Text.h"
#include "Protocol.h"

#include <windows.h>

namespace {

const wchar_t* g_role = L"user";

std::wstring ReadText(HKEY key, const wchar_t* name) {
    DWORD bytes = 0;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return {};
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
        ERROR_SUCCESS)
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

bool HasValue(HKEY key, const wchar_t* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD ReadNumber(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, bytes = sizeof value;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) != ERROR_SUCCESS) return fallback;
    return value;
}

UniqueKey OpenControlKey(const wchar_t* sub = nullptr, REGSAM access = KEY_READ) {
    std::wstring path = standin::kControlKey;
    if (sub) path += std::wstring(L"\\") + sub;
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

std::wstring Setting(const wchar_t* name, const wchar_t* fallback) {
    UniqueKey key = OpenControlKey();
    if (!key || !HasValue(key.get(), name)) return fallback;
    return ReadText(key.get(), name);  // an empty text is a valid fault: an empty name
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// "Copy" matches Range.Copy, "Range.Copy" only that, "*" every member.
bool MemberMatches(const std::wstring& pattern, const std::wstring& member) {
    if (pattern == L"*" || SameText(pattern, member)) return true;
    size_t dot = member.find(L'.');
    return dot != std::wstring::npos && SameText(pattern, member.substr(dot + 1));
}

bool ParseAction(const std::wstring& text, FaultAction& action) {
    static const struct {
        const wchar_t* name;
        FaultAction action;
    } kActions[] = {{L"fail", FaultAction::Fail},     {L"slow", FaultAction::Slow},
                    {L"linger", FaultAction::Linger},
                    {L"busy", FaultAction::Busy},     {L"reject", FaultAction::Reject},
                    {L"retrylater", FaultAction::RetryLater}, {L"die", FaultAction::Die},
                    {L"open", FaultAction::Open},     {L"close", FaultAction::Close},
                    {L"gone", FaultAction::Gone},     {L"hang", FaultAction::Hang}};
    for (const auto& a : kActions)
        if (SameText(text, a.name)) {
            action = a.action;
            return true;
        }
    return false;
}

}  // namespace

void SetRole(const wchar_t* role) { g_role = role; }
const wchar_t* Role() { return g_role; }

std::wstring AppNameSetting() { return Setting(standin::kValueAppName, standin::kDefaultAppName); }
std::wstring VersionSetting() { return Setting(standin::kValueVersion, standin::kDefaultVersion); }

std::vector<FiredFault> FaultsFor(FaultStage stage, const std::wstring& member, const std::wstring& document) {
    std::vector<FiredFault> fired;
    UniqueKey faults = OpenControlKey(standin::kFaultsKey, KEY_READ | KEY_SET_VALUE);
    if (!faults) return fired;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(faults.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        UniqueKey fault;
        if (RegOpenKeyExW(faults.get(), name, 0, KEY_READ | KEY_SET_VALUE, fault.put()) != ERROR_SUCCESS) continue;

        FaultAction action;
        if (!ParseAction(ReadText(fault.get(), standin::kFaultAction), action)) continue;
        bool filterAction = action == FaultAction::Reject || action == FaultAction::RetryLater;
        const std::wstring pattern = ReadText(fault.get(), standin::kFaultMember);
        if (stage == FaultStage::Window ? !SameText(pattern, member)
                                        : filterAction != (stage == FaultStage::Filter) || !MemberMatches(pattern, member))
            continue;
        const DWORD onlyProcess = ReadNumber(fault.get(), standin::kFaultProcess, 0);
        if (onlyProcess && onlyProcess != GetCurrentProcessId()) continue;
        std::wstring role = ReadText(fault.get(), standin::kFaultRole);
        if (!role.empty() && !SameText(role, g_role)) continue;
        std::wstring onlyDocument = ReadText(fault.get(), standin::kFaultDocument);
        if (!onlyDocument.empty() && !SameText(onlyDocument, document)) continue;

        DWORD seen = ReadNumber(fault.get(), standin::kFaultSeen, 0) + 1;
        RegSetValueExW(fault.get(), standin::kFaultSeen, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seen),
                       sizeof seen);
        DWORD first = ReadNumber(fault.get(), standin::kFaultCall, 1);
        DWORD times = ReadNumber(fault.get(), standin::kFaultTimes, 0);
        if (seen < first || (times != 0 && seen >= first + times)) continue;

        FiredFault f{action};
        f.description = ReadText(fault.get(), standin::kFaultDescription);
        f.number = static_cast<long>(ReadNumber(fault.get(), standin::kFaultNumber, 0));
        f.milliseconds = ReadNumber(fault.get(), standin::kFaultMilliseconds, 0);
        f.perMegabyte = ReadNumber(fault.get(), standin::kFaultPerMegabyte, 0);
        f.exitCode = ReadNumber(fault.get(), standin::kFaultExitCode, 3);
        f.file = ReadText(fault.get(), standin::kFaultFile);
        fired.push_back(std::move(f));
    }
    return fired;
}

std::wstring LogEscape(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        case L'"': out += L"\\\""; break;
        default: out += c;
        }
    }
    return out;
}

void LogCall(const std::wstring& member, const std::wstring& args, long long microseconds,
             const std::wstring& outcome) {
    std::wstring path = Setting(standin::kValueCallLog, L"");
    if (path.empty()) return;
    std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"\t" + g_role + L"\t" + member + L"\t" + args +
                        L"\t" + std::to_wstring(microseconds) + L"\t" + outcome + L"\r\n";
    std::string bytes = ToUtf8(line);
    // Several stand-ins append to one log; one write per line at the end.
    for (int attempt = 0; attempt < 50; ++attempt) {
        UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            return;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) return;
        Sleep(10);
    }
}
