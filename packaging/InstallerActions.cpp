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

#include <string>
#include <vector>

namespace {

constexpr wchar_t kProgramFile[] = L"orvelle.exe";
// A running program saves its settings as they change and ends at once on
// WM_CLOSE; the bound covers a backup run that is just writing a file.
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

// The main windows of the program running from this folder (a copy elsewhere
// holds none of the package's files and is left alone), with their processes.
struct Running {
    HWND window;
    UniqueHandle process;
};

std::vector<Running> RunningFrom(const std::wstring& folder) {
    const std::wstring exe = JoinPath(folder, kProgramFile);
    std::vector<Running> found;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kMainWindowClass, nullptr)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (process && SameText(ImagePath(process.get()), exe)) found.push_back({w, std::move(process)});
    }
    return found;
}

// True when no copy from the folder runs any more.
bool CloseAll(const std::wstring& folder) {
    std::vector<Running> running = RunningFrom(folder);
    for (auto& r : running) PostMessageW(r.window, WM_CLOSE, 0, 0);
    bool ended = true;
    for (auto& r : running) ended &= WaitForSingleObject(r.process.get(), kCloseWait) == WAIT_OBJECT_0;
    return ended;
}

// Asks the user through the installer's UI; a silent installation answers 0.
int Ask(MSIHANDLE install, const wchar_t* text, UINT buttons) {
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    return MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | buttons | MB_ICONWARNING),
                             record);
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
// runs, and Windows Installer would otherwise leave it for a reboot.  When it
// does not end, the user may close it and retry; otherwise the installation
// stops before anything has changed.
extern "C" __declspec(dllexport) UINT __stdcall CloseOrvelle(MSIHANDLE install) {
    const std::wstring folder = Property(install, L"INSTALLFOLDER");
    if (folder.empty()) return ERROR_SUCCESS;
    while (!CloseAll(folder)) {
        if (Ask(install,
                L"Orvelle is running and could not be closed. Close it (its icon is in the notification area) "
                L"and choose Retry, or choose Cancel.",
                MB_RETRYCANCEL) != IDRETRY)
            return ERROR_INSTALL_FAILURE;
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
