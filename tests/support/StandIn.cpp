#include "support/StandIn.h"

#include "Protocol.h"
#include "common/Failure.h"
#include "common/MonotonicClock.h"
#include "common/Text.h"
#include "support/Paths.h"
#include "support/Registry.h"
#include "support/Wait.h"

#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <sstream>

namespace StandIn {

namespace {

std::wstring Quoted(const std::wstring& arg) { return L"\"" + arg + L"\""; }

// Starts word-standin.exe with arguments (quoted as needed by the caller).
UniqueHandle Start(const std::wstring& arguments, DWORD* pid = nullptr) {
    std::wstring command = Quoted(ExePath()) + (arguments.empty() || arguments[0] == L' ' ? L"" : L" ") + arguments;
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(ExePath().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw Failure::FromLastError();
    CloseHandle(pi.hThread);
    if (pid) *pid = pi.dwProcessId;
    return UniqueHandle(pi.hProcess);
}

// Runs the stand-in with arguments and returns its exit code.
DWORD RunTool(const std::wstring& arguments) {
    UniqueHandle process = Start(arguments);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0)
        throw Failure::Text(L"word-standin.exe " + arguments + L" did not end");
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

std::wstring FaultKey(const std::wstring& name) {
    return std::wstring(standin::kControlKey) + L"\\" + standin::kFaultsKey + L"\\" + name;
}

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    reg::SetString(HKEY_CURRENT_USER, key, name, value);
}

void SetNumber(const std::wstring& key, const wchar_t* name, DWORD value) {
    LSTATUS s = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof value);
    if (s != ERROR_SUCCESS) throw Failure::FromWin32(s);
}

void DeleteValue(const wchar_t* name) { reg::DeleteValue(HKEY_CURRENT_USER, standin::kControlKey, name); }

UserWord StartWithArguments(const std::wstring& arguments, bool waitForActive = true) {
    UserWord word;
    word.process = Start(arguments, &word.pid);
    // In its message loop: its documents are open, their windows made.
    WaitForInputIdle(word.process.get(), 30000);

    bool ended = false;
    bool active = WaitFor(
        [&] {
            IUnknown* object = nullptr;
            if (SUCCEEDED(GetActiveObject(standin::kClsid, nullptr, &object))) {
                object->Release();
                return true;
            }
            ended = WaitForSingleObject(word.process.get(), 0) == WAIT_OBJECT_0;
            return ended || !waitForActive;
        },
        std::chrono::seconds(30), Millis(20));
    if (active && !ended) return word;
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(word.process.get(), &code);
        throw Failure::Text(L"the user's stand-in ended at start with exit code " + std::to_wstring(code));
    }
    TerminateProcess(word.process.get(), 1);
    throw Failure::Text(L"the user's stand-in did not become the active object");
}

}  // namespace

std::wstring ExePath() { return ::BinFolder() + L"\\" + standin::kExeName; }

void Register() {
    if (DWORD code = RunTool(L"/regserver")) throw Failure::Text(L"word-standin.exe /regserver failed: " + std::to_wstring(code));
}

void Unregister() {
    if (DWORD code = RunTool(L"/unregserver"))
        throw Failure::Text(L"word-standin.exe /unregserver failed: " + std::to_wstring(code));
}

UserWord StartUserWord(const std::vector<std::wstring>& files, const std::vector<std::wstring>& unsaved) {
    std::wstring arguments;
    for (const auto& f : files) arguments += L" " + Quoted(f);
    for (const auto& u : unsaved) arguments += L" --unsaved " + Quoted(u);
    return StartWithArguments(arguments);
}

UserWord StartRichUserWord(const std::vector<RichFile>& files) {
    std::wstring arguments;
    for (const auto& f : files) {
        arguments += (f.unsaved ? L" --unsaved " : L" ") + Quoted(f.file);
        if (!f.header.empty()) arguments += L" --header " + Quoted(f.header);
        if (!f.image.empty()) arguments += L" --image " + Quoted(f.image);
        if (!f.location.empty()) arguments += L" --path " + Quoted(f.location);
        if (f.password) arguments += L" --password";
        if (f.rightsManaged) arguments += L" --rights-managed";
        if (f.modified) arguments += L" --modified";
    }
    return StartWithArguments(arguments);
}

UserWord StartHiddenWord(const std::vector<std::wstring>& files) {
    std::wstring arguments = L"/hidden";
    for (const auto& f : files) arguments += L" " + Quoted(f);
    return StartWithArguments(arguments, false);
}

UniqueHandle StartAnswerer(const std::wstring& text, int copies) {
    UniqueHandle process = Start(L"/answercopies " + Quoted(text) + (copies < 0 ? L"" : L" " + std::to_wstring(copies)));
    // Idle in its message loop: the listener is registered.
    WaitForInputIdle(process.get(), 30000);
    return process;
}

const std::string kTinyPng(
    "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x03\x00\x00\x00\x02\x08\x02\x00"
    "\x00\x00\x12\x16\xF1\x4D\x00\x00\x00\x11\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF\xC0\x00\x41\x0C\x30\xC6\x7F\x00"
    "\x3B\xD8\x05\xFB\x39\x4D\x96\xA5\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82",
    75);

std::wstring UnsavedText(const std::wstring& name) { return standin::UnsavedText(name); }

void SetFault(const std::wstring& name, const Fault& fault) {
    RemoveFault(name);
    std::wstring key = FaultKey(name);
    SetText(key, standin::kFaultMember, fault.member);
    SetText(key, standin::kFaultAction, fault.action);
    if (!fault.description.empty()) SetText(key, standin::kFaultDescription, fault.description);
    if (fault.number) SetNumber(key, standin::kFaultNumber, static_cast<DWORD>(fault.number));
    if (fault.milliseconds) SetNumber(key, standin::kFaultMilliseconds, fault.milliseconds);
    if (fault.perMegabyte) SetNumber(key, standin::kFaultPerMegabyte, fault.perMegabyte);
    SetNumber(key, standin::kFaultExitCode, fault.exitCode);
    SetNumber(key, standin::kFaultCall, fault.call);
    SetNumber(key, standin::kFaultTimes, fault.times);
    if (!fault.document.empty()) SetText(key, standin::kFaultDocument, fault.document);
    if (!fault.role.empty()) SetText(key, standin::kFaultRole, fault.role);
    if (!fault.file.empty()) SetText(key, standin::kFaultFile, fault.file);
    if (fault.process) SetNumber(key, standin::kFaultProcess, fault.process);
}

void RemoveFault(const std::wstring& name) { reg::DeleteTree(HKEY_CURRENT_USER, FaultKey(name)); }

unsigned FaultSeen(const std::wstring& name) {
    DWORD value = 0, bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, FaultKey(name).c_str(), standin::kFaultSeen, RRF_RT_REG_DWORD, nullptr, &value,
                     &bytes) != ERROR_SUCCESS)
        return 0;
    return value;
}

void SetAppName(const std::wstring& name) { SetText(standin::kControlKey, standin::kValueAppName, name); }
void SetVersion(const std::wstring& version) { SetText(standin::kControlKey, standin::kValueVersion, version); }

void ClearFaults() {
    reg::DeleteTree(HKEY_CURRENT_USER, std::wstring(standin::kControlKey) + L"\\" + standin::kFaultsKey);
    DeleteValue(standin::kValueAppName);
    DeleteValue(standin::kValueVersion);
}

void SetCallLog(const std::wstring& path) {
    if (path.empty()) DeleteValue(standin::kValueCallLog);
    else SetText(standin::kControlKey, standin::kValueCallLog, path);
}

std::vector<Call> ReadCallLog(const std::wstring& path) {
    std::vector<Call> calls;
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const Failure&) {
        return calls;  // no call made yet
    }
    std::wistringstream lines(FromUtf8(bytes));
    std::wstring line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::wstring> fields;
        size_t start = 0;
        for (size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        if (fields.size() != 6) throw Failure::Text(L"malformed call log line: " + line);
        Call c;
        c.pid = static_cast<DWORD>(std::stoul(fields[0]));
        c.role = fields[1];
        c.member = fields[2];
        c.args = fields[3];
        c.microseconds = std::stoll(fields[4]);
        c.outcome = fields[5];
        calls.push_back(std::move(c));
    }
    return calls;
}

std::vector<DWORD> RunningStandIns() {
    std::vector<DWORD> pids;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, standin::kExeName, -1, TRUE) != CSTR_EQUAL) continue;
        // A process that has ended but is still listed does not count.
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) continue;
        pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

int CountRunningStandIns() { return static_cast<int>(RunningStandIns().size()); }

void KillAllStandIns() {
    // Closed, not killed: one killed after registering its class object leaves that in Wine's
    // rpcss, and the next creation fails.  One still starting is asked again once it has a window.
    const auto deadline = MonotonicClock::now() + std::chrono::seconds(10);
    for (auto running = RunningStandIns(); !running.empty() && MonotonicClock::now() < deadline;
         running = RunningStandIns()) {
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, standin::kWindowClass, nullptr));) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (std::find(running.begin(), running.end(), pid) != running.end()) PostMessageW(w, WM_CLOSE, 0, 0);
        }
        Sleep(50);
    }
    for (DWORD pid : RunningStandIns()) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!process) continue;
        TerminateProcess(process.get(), 9);
        // Termination is asynchronous: wait, so that the next test starts clean.
        WaitForSingleObject(process.get(), 10000);
    }
}

bool WaitForExit(DWORD pid, DWORD timeoutMs) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process) return true;  // already gone
    return WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
}

Session::Session() {
    KillAllStandIns();
    ClearFaults();
    callLog_ = folder_.file(L"calls.log");
    SetCallLog(callLog_);
    Register();
}

Session::~Session() {
    KillAllStandIns();
    ClearFaults();
    SetCallLog(L"");
    try {
        Unregister();
    } catch (...) {
    }
}

}  // namespace StandIn
