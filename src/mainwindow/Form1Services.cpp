#include "mainwindow/Form1Services.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Main.h"
#include "engine/WordProbes.h"
#include "shell/AddFolder.h"
#include "shell/mStartUp.h"

#include <sddl.h>

#include <random>
#include <vector>

bool Form1Services::CheckWordAvailable() { return ::CheckWordAvailable(); }
double Form1Services::GetWordVersion() { return ::GetWordVersion(); }
RunOutcome Form1Services::SaveAll(BackupRun& run, const BackupOptions& options, RunHost& host) {
    return run.SaveAll(options, host);
}
OneBackup Form1Services::BackUpOne(BackupRun& run, const Dispatch& word, const Dispatch& document,
                                   const BackupOptions& options, RunHost& host) {
    return run.BackUpOne(word, document, options, host);
}
void Form1Services::FinishRunNow(BackupRun& run) { run.FinishRunNow(); }
int Form1Services::DrawPercent() { return ::DrawPercent(); }
void Form1Services::StartCommand(const std::wstring& commandLine, int show) { ::StartCommand(commandLine, show); }
std::wstring Form1Services::BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start) {
    return ::BrowseForFolder(owner, title, start);
}
void Form1Services::AddToStartup() { ::AddToStartup(); }
void Form1Services::RemoveFromStartup() { ::RemoveFromStartup(); }
void Form1Services::EndProcess(UINT exitCode) { ExitProcess(exitCode); }
std::wstring Form1Services::InstanceName() { return DefaultInstanceName(); }

int DrawPercent() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::minstd_rand generator(static_cast<unsigned>(now.wHour * 3600 + now.wMinute * 60 + now.wSecond));
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    return static_cast<int>(fraction(generator) * 100) + 1;
}

namespace {

// The program a command line names ("notepad", "explorer"), from Windows' own
// folders: without it CreateProcess looks beside this program first, where a
// portable copy may sit among planted files.  Empty when it is not there.
std::wstring SystemProgramOf(const std::wstring& commandLine) {
    const std::wstring folders = SystemFolder() + L';' + WindowsFolder();
    const std::wstring name = commandLine.substr(0, commandLine.find(L' '));
    wchar_t found[MAX_PATH];
    const DWORD length = SearchPathW(folders.c_str(), name.c_str(), L".exe", MAX_PATH, found, nullptr);
    return length && length < MAX_PATH ? std::wstring(found, length) : std::wstring();
}

}  // namespace

void StartCommand(const std::wstring& commandLine, int show) {
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;  // CreateProcessW may write into it
    const std::wstring program = SystemProgramOf(commandLine);
    if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        throw Failure::FromLastError();
    // Not waited for: both handles go at once.
    UniqueHandle thread(process.hThread), child(process.hProcess);
}

std::wstring CurrentUserSid() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    UniqueLocal<wchar_t> sid;
    if (size && GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid.put()))
        return sid.get();
    return {};
}

std::wstring DefaultInstanceName() {
    // "Local\" keeps the name inside the logon session; the user's SID keeps
    // two users of one session (run as) apart.
    std::wstring name = L"Local\\Kelvane.Orvelle.Instance";
    if (const std::wstring sid = CurrentUserSid(); !sid.empty()) name += L"." + sid;
    return name;
}
