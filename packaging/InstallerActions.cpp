// Custom actions of the Windows Installer package (orvelle.wxs).  The package
// installs one file; these cover what Windows Installer does not do by
// itself: ending the installed program before its file is replaced or
// removed, and removing the start-with-Windows value that the program wrote.
#include "common/Handle.h"
#include "mainwindow/ControlIds.h"
#include "shell/RegStuff.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kProgramFile[] = L"orvelle.exe";
// A running program saves its settings as they change and ends at once when
// asked; the bound, for all copies together, covers a backup run that is
// just writing a file.
constexpr DWORD kCloseWait = 20000;

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
    std::wstring value(++size, L'\0');
    if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
    value.resize(size);
    return value;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring ImagePath(HANDLE process) {
    wchar_t path[MAX_PATH * 2];
    DWORD size = static_cast<DWORD>(std::size(path));
    return QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

// Writes a line into the installation's log (msiexec /l*v), never a box.
void Log(MSIHANDLE install, const std::wstring& text) {
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, (L"Orvelle: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// The copies of the program running from this folder (a copy elsewhere holds
// none of the package's files and is left alone), in every session: the
// installer may run as SYSTEM or on a server where several users work.
struct Running {
    DWORD pid = 0, session = 0;
    std::wstring user;
    UniqueHandle process;

    std::wstring Describe() const {
        return L"the copy of " + (user.empty() ? std::wstring(L"an unknown user") : user) + L" in session " +
               std::to_wstring(session) + L" (process " + std::to_wstring(pid) + L")";
    }
};

std::wstring UserOf(HANDLE process) {
    UniqueHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return {};
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, size, &size)) return {};
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domain,
                           &domainSize, &use))
        return {};
    return std::wstring(domain) + L"\\" + name;
}

std::vector<Running> RunningFrom(const std::wstring& folder) {
    const std::wstring exe = JoinPath(folder, kProgramFile);
    std::vector<Running> found;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (!SameText(entry.szExeFile, kProgramFile)) continue;
        UniqueHandle process(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process || !SameText(ImagePath(process.get()), exe)) continue;
        Running running{entry.th32ProcessID};
        ProcessIdToSessionId(running.pid, &running.session);
        running.user = UserOf(process.get());
        running.process = std::move(process);
        found.push_back(std::move(running));
    }
    return found;
}

// Through the copy's own event, which reaches every session and desktop; a
// copy of a version before it, by WM_CLOSE to its windows on this desktop.
void AskToClose(const Running& running) {
    UniqueHandle event(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, (kCloseEventPrefix + std::to_wstring(running.pid)).c_str()));
    if (event && SetEvent(event.get())) return;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kMainWindowClass, nullptr)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == running.pid) PostMessageW(w, WM_CLOSE, 0, 0);
    }
}

// Asks every copy to close and waits for them, all within one bound.  The
// sessions of the copies that closed, for their start after the upgrade;
// true in allClosed when none runs any more.
std::vector<DWORD> CloseAll(MSIHANDLE install, const std::wstring& folder, bool& allClosed) {
    std::vector<Running> running = RunningFrom(folder);
    for (const Running& r : running) AskToClose(r);
    const ULONGLONG deadline = GetTickCount64() + kCloseWait;
    std::vector<DWORD> sessions;
    allClosed = true;
    for (const Running& r : running) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(r.process.get(), left) == WAIT_OBJECT_0) {
            Log(install, L"closed " + r.Describe() + L".");
            if (std::find(sessions.begin(), sessions.end(), r.session) == sessions.end())
                sessions.push_back(r.session);
        } else {
            allClosed = false;
            Log(install, r.Describe() + L" did not close within " + std::to_wstring(kCloseWait / 1000) +
                             L" seconds; its file is replaced when Windows restarts.");
        }
    }
    return sessions;
}

// Asks through the installer's UI; only a full or reduced UI shows the box.
int Ask(MSIHANDLE install, const wchar_t* text, UINT buttons) {
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    return MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | buttons | MB_ICONWARNING),
                             record);
}

bool ShowsQuestions(MSIHANDLE install) {
    const std::wstring level = Property(install, L"UILevel");
    return !level.empty() && (std::wcstol(level.c_str(), nullptr, 10) & 7) >= INSTALLUILEVEL_REDUCED;
}

// Starts the program for the user signed in to the session, on that user's
// desktop, as that user.  Needs the rights of SYSTEM (a deferred action that
// does not impersonate).
DWORD StartInSession(const std::wstring& folder, DWORD session) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) return GetLastError();
    UniqueHandle user(token);
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, token, FALSE)) environment = nullptr;
    const std::wstring exe = JoinPath(folder, kProgramFile);
    std::wstring line = L'"' + exe + L'"';
    STARTUPINFOW startup{sizeof startup};
    startup.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessAsUserW(token, exe.c_str(), line.data(), nullptr, nullptr, FALSE,
                                              CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(), &startup,
                                              &process);
    const DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (environment) DestroyEnvironmentBlock(environment);
    UniqueHandle thread(process.hThread), child(process.hProcess);
    return error;
}

// The program's value in one Run key when it starts the copy in this
// folder; empty otherwise (the value of a copy elsewhere is not ours).
std::wstring RunEntryOf(HKEY hive, const wchar_t* key, const std::wstring& folder) {
    UniqueKey run;
    if (RegOpenKeyExW(hive, key, 0, kRunKeyAccess, run.put()) != ERROR_SUCCESS) return {};
    wchar_t data[MAX_PATH * 2] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(run.get(), nullptr, kProgramFile, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return SameText(data, RunEntryData(folder, kProgramFile)) ? data : std::wstring();
}

void RemoveRunEntry(HKEY hive, const wchar_t* key, const std::wstring& folder) {
    if (!RunEntryOf(hive, key, folder).empty()) DeleteValue(hive, key, kProgramFile);
}

}  // namespace

// Immediate, before InstallValidate: the program's file is in use while it
// runs, and Windows Installer would otherwise leave it for a reboot.  Every
// copy is asked to close; the sessions of those that closed go to
// RestartOrvelle (its CustomActionData: the folder, "|", the sessions split
// by ";").  A copy that does not close is named in the log; with a full UI
// the user may close it and retry, a silent installation goes on and Windows
// Installer replaces the file at the next restart (3010).
extern "C" __declspec(dllexport) UINT __stdcall CloseOrvelle(MSIHANDLE install) {
    const std::wstring folder = Property(install, L"INSTALLFOLDER");
    if (folder.empty()) return ERROR_SUCCESS;
    std::wstring sessions;
    for (bool allClosed = false; !allClosed;) {
        for (DWORD session : CloseAll(install, folder, allClosed))
            sessions += (sessions.empty() ? L"" : L";") + std::to_wstring(session);
        if (allClosed || !ShowsQuestions(install)) break;
        if (Ask(install,
                L"Orvelle is running and could not be closed. Close it (its icon is in the notification area) "
                L"and choose Retry, or choose Cancel.",
                MB_RETRYCANCEL) != IDRETRY)
            return ERROR_INSTALL_USEREXIT;
    }
    if (!sessions.empty()) MsiSetPropertyW(install, L"RestartOrvelle", (folder + L"|" + sessions).c_str());
    return ERROR_SUCCESS;
}

// Deferred, not impersonating (SYSTEM), at the end of an installation or
// upgrade that closed running copies, once the new file is in place: each
// is started again for the user of its session, where Windows lets us.
// (Not a commit action: Wine's installer does not run those.)
extern "C" __declspec(dllexport) UINT __stdcall RestartOrvelle(MSIHANDLE install) {
    const std::wstring data = Property(install, L"CustomActionData");
    const size_t bar = data.find(L'|');
    if (bar == std::wstring::npos) return ERROR_SUCCESS;
    const std::wstring folder = data.substr(0, bar);
    for (size_t at = bar + 1; at < data.size();) {
        const size_t end = std::min(data.find(L';', at), data.size());
        const DWORD session = std::wcstoul(data.substr(at, end - at).c_str(), nullptr, 10);
        at = end + 1;
        const DWORD error = StartInSession(folder, session);
        Log(install, error == ERROR_SUCCESS
                         ? L"started Orvelle again in session " + std::to_wstring(session) + L"."
                         : L"could not start Orvelle again in session " + std::to_wstring(session) + L" (error " +
                               std::to_wstring(error) + L"); it starts at the user's next sign-in when set to "
                               L"start with Windows, or from the Start menu.");
    }
    return ERROR_SUCCESS;
}

// Deferred, on removal only.  The machine-wide value needs the installer's
// rights, the user's value the user's own registry, so the package runs
// these as two actions.  CustomActionData is the install folder.
extern "C" __declspec(dllexport) UINT __stdcall RemoveMachineRunEntry(MSIHANDLE install) {
    RemoveRunEntry(HKEY_LOCAL_MACHINE, kMachineRunKey, Property(install, L"CustomActionData"));
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveUserRunEntry(MSIHANDLE install) {
    RemoveRunEntry(HKEY_CURRENT_USER, kUserRunKey, Property(install, L"CustomActionData"));
    return ERROR_SUCCESS;
}

// An upgrade keeps the user's choice to start with Windows.  Windows
// Installer tells the old version's removal that it is part of an upgrade
// (UPGRADINGPRODUCTCODE, in the package's condition), and that removal keeps
// the values; Wine's does not, and neither may an older package.  So the new
// version remembers them before the old one goes (immediate, before
// RemoveExistingProducts) and writes them again once its own file is in
// place (deferred, with the data as CustomActionData).
extern "C" __declspec(dllexport) UINT __stdcall RememberRunEntries(MSIHANDLE install) {
    const std::wstring folder = Property(install, L"INSTALLFOLDER");
    MsiSetPropertyW(install, L"RestoreMachineRunEntry", RunEntryOf(HKEY_LOCAL_MACHINE, kMachineRunKey, folder).c_str());
    MsiSetPropertyW(install, L"RestoreUserRunEntry", RunEntryOf(HKEY_CURRENT_USER, kUserRunKey, folder).c_str());
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestoreMachineRunEntry(MSIHANDLE install) {
    const std::wstring data = Property(install, L"CustomActionData");
    if (!data.empty()) SaveValue(HKEY_LOCAL_MACHINE, kMachineRunKey, kProgramFile, data);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RestoreUserRunEntry(MSIHANDLE install) {
    const std::wstring data = Property(install, L"CustomActionData");
    if (!data.empty()) SaveValue(HKEY_CURRENT_USER, kUserRunKey, kProgramFile, data);
    return ERROR_SUCCESS;
}
