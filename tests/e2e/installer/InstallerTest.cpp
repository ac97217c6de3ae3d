// The Windows Installer package on a machine that has never seen it (a Wine
// prefix of its own): installed silently, started from where it went,
// upgraded while it runs on a desktop of its own, installed again, and
// removed while it runs; each step checked the way Windows and the user see it.
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "e2e/support/E2E.h"
#include "support/Files.h"
#include "support/NotificationArea.h"
#include "support/Paths.h"
#include "support/Registry.h"

#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <map>

using namespace e2e;

namespace {

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kStartupSetting[] = L"Windows Startup";
// msiexec ends when the installation has; a generous bound for a slow machine.
constexpr Millis kInstallLimit = 120s;

std::wstring Variable(const wchar_t* name) {
    std::wstring value = EnvironmentVariable(name);
    if (value.empty()) throw Failure::Text(std::wstring(name) + L" is not set");
    return value;
}

std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring InstallFolder() { return Folder(CSIDL_PROGRAM_FILES) + L"\\Orvelle"; }
std::wstring InstalledExe() { return InstallFolder() + L"\\orvelle.exe"; }
std::wstring RunData() { return L'"' + InstalledExe() + L'"'; }

DWORD Msiexec(const std::wstring& arguments) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    remote::Process msiexec = remote::Process::Start(std::wstring(system) + L"\\msiexec.exe", arguments);
    if (!msiexec.WaitExit(kInstallLimit)) throw Failure::Text(L"msiexec did not end");
    return msiexec.ExitCode();
}

// The package's entries in Apps & features.
struct Entry {
    std::wstring productCode;  // the entry's key
    std::optional<std::wstring> version, publisher, uninstall;
};

std::vector<Entry> Entries() {
    std::vector<Entry> entries;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return entries;
    wchar_t name[256];
    for (DWORD i = 0, n = 256; RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, n = 256) {
        std::wstring sub = std::wstring(kUninstallKey) + L"\\" + name;
        auto value = [&](const wchar_t* v) { return reg::GetString(HKEY_LOCAL_MACHINE, sub, v); };
        if (value(L"DisplayName") == kTitle)
            entries.push_back({name, value(L"DisplayVersion"), value(L"Publisher"), value(L"UninstallString")});
    }
    RegCloseKey(key);
    return entries;
}

// A string of the exe's version resource (US English, Unicode).
std::wstring VersionString(const std::wstring& exe, const wchar_t* name) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> block(size);
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(),
                        reinterpret_cast<void**>(&text), &length))
        return {};
    return text;
}

// Where the Start-menu shortcuts lead.  The package asks for the Programs
// folder of all users; Wine's installer puts it into the installing user's
// (Windows Installer's ProgramMenuFolder is per user there even for a
// per-machine package), so both are looked at.
std::vector<std::wstring> ShortcutTargets() {
    std::vector<std::wstring> targets;
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        std::wstring link = Folder(csidl) + L"\\Orvelle.lnk";
        if (!PathExists(link)) continue;
        Microsoft::WRL::ComPtr<IShellLinkW> shell;
        Microsoft::WRL::ComPtr<IPersistFile> file;
        wchar_t target[MAX_PATH] = {};
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shell))) &&
            SUCCEEDED(shell.As(&file)) && SUCCEEDED(file->Load(link.c_str(), STGM_READ)))
            shell->GetPath(target, MAX_PATH, nullptr, 0);
        targets.push_back(target);
    }
    return targets;
}

// The program's processes, whatever their desktop (no other copy runs here).
std::vector<DWORD> InstalledRunning() { return StandIn::RunningProcesses(kProgramFile); }

// Text of an installation log, whatever its encoding (NULs of UTF-16 dropped).
std::string LogText(const std::wstring& path) {
    std::string text = ReadFileBytes(path);
    std::erase(text, '\0');
    return text;
}

std::optional<std::wstring> MachineRunEntry() {
    return reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, kProgramFile);
}
std::optional<std::wstring> UserRunEntry() {
    return reg::GetString(HKEY_CURRENT_USER, kUserRunKey, kProgramFile);
}

class Installer : public E2ETest {
protected:
    // The program as the Start menu starts it: from the install folder.
    std::unique_ptr<Orvelle> StartInstalled() {
        Sandbox installed = box_;
        installed.programFolder = InstallFolder();
        installed.exe = InstalledExe();
        return std::make_unique<Orvelle>(installed);
    }

    // Start-up has ended at the first countdown tick; the tray icon is up by then.
    static void WaitStarted(Orvelle& app) {
        ASSERT_TRUE(app.WaitFirstTick()) << ToUtf8(app.Caption(ids::Frame2));
        ASSERT_TRUE(FindTrayIcon(kTitle));
    }

    std::map<std::wstring, std::optional<std::wstring>> Settings() {
        std::map<std::wstring, std::optional<std::wstring>> settings;
        for (const auto& name : StoredNames()) settings[name] = Stored(name);
        return settings;
    }
};

TEST_F(Installer, InstallsUpgradesAndRemovesTheProgramAndKeepsTheUsersData) {
    const std::wstring msi = WindowsPath(Variable(L"ORVELLE_MSI"));
    const std::wstring nextMsi = WindowsPath(Variable(L"ORVELLE_NEXT_MSI"));
    const std::wstring version = Variable(L"ORVELLE_VERSION"), nextVersion = Variable(L"ORVELLE_NEXT_VERSION");
    ASSERT_FALSE(PathExists(InstallFolder())) << "not a fresh machine";
    ASSERT_TRUE(Entries().empty()) << "not a fresh machine";

    // ---- silent installation
    ASSERT_EQ(Msiexec(L"/i \"" + msi + L"\" /qn"), 0u);
    EXPECT_EQ(FileNamesIn(InstallFolder()), std::vector<std::wstring>{L"orvelle.exe"});
    EXPECT_EQ(ShortcutTargets(), std::vector<std::wstring>{InstalledExe()});
    std::vector<Entry> entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    // Name, version and publisher agree with what the program says of itself.
    EXPECT_EQ(VersionString(InstalledExe(), L"ProductName"), kTitle);
    EXPECT_EQ(VersionString(InstalledExe(), L"ProductVersion"), version);
    EXPECT_EQ(entries[0].version, version);
    EXPECT_EQ(entries[0].publisher, VersionString(InstalledExe(), L"CompanyName"));
    EXPECT_EQ(entries[0].uninstall, L"MsiExec.exe /X" + entries[0].productCode);
    // The entry's icon is the package's, kept by Windows Installer per product.
    EXPECT_TRUE(PathExists(Folder(CSIDL_WINDOWS) + L"\\Installer\\" + entries[0].productCode + L"\\orvelle.ico"));

    // ---- the installed program, beside the Word stand-in; the user has it
    // start with Windows (written machine-wide, or for a user who may not
    // write there, into the user's own Run key: both are set here)
    Seed(L"Path", box_.backups + L"\\");
    std::unique_ptr<Orvelle> app = StartInstalled();
    EXPECT_EQ(TextOf(app->Window()), kTitle);
    WaitStarted(*app);
    app->Click(ids::Check5);
    ASSERT_TRUE(WaitStored(kStartupSetting, L"On"));
    ASSERT_TRUE(WaitFor([] { return MachineRunEntry() == RunData(); }, kActionLimit));
    reg::SetString(HKEY_CURRENT_USER, kUserRunKey, kProgramFile, RunData());
    const auto settings = Settings();
    const std::string history = "12/8/2026 9:41:07 AM  C:\\Docs\\Letter.docx\r\n";
    WriteFileBytes(box_.HistoryFile(), history);
    const std::wstring backup = box_.backups + L"\\Letter Backup.docx";
    WriteFileBytes(backup, "a backup");

    // ---- upgrade while it runs on a desktop of its own, where no window of
    // the installer's desktop reaches it (as in another user's session): it
    // is closed all the same, the log says so, and it is started again
    ASSERT_TRUE(app->Close());
    remote::Process desktop = remote::Process::Start(Folder(CSIDL_WINDOWS) + L"\\explorer.exe",
                                                     L"/desktop=OrvelleOther,800x600 \"" + InstalledExe() + L"\"",
                                                     {{L"TEMP", box_.temp}, {L"TMP", box_.temp}});
    std::vector<DWORD> running;
    ASSERT_TRUE(WaitFor([&] { return (running = InstalledRunning()).size() == 1; }, kStartLimit));
    remote::Process other = remote::Process::Open(running[0]);
    const std::wstring closeEvent = L"Global\\Kelvane.Orvelle.Close." + std::to_wstring(other.Id());
    ASSERT_TRUE(WaitFor([&] { return UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, closeEvent.c_str())).get(); },
                        kStartLimit));
    ASSERT_FALSE(FindTopLevel(other.Id(), L"OrvelleMainWindow")) << "reachable from this desktop";
    const std::wstring log = box_.temp + L"\\upgrade.log";
    ASSERT_EQ(Msiexec(L"/i \"" + nextMsi + L"\" /qn /norestart /l*v \"" + log + L"\""), 0u);
    ASSERT_TRUE(other.WaitExit(kActionLimit)) << "the installer left Orvelle running";
    EXPECT_EQ(other.ExitCode(), 0u);
    const std::string upgradeLog = LogText(log);
    EXPECT_NE(upgradeLog.find("Orvelle: closed the copy of "), std::string::npos);
    EXPECT_NE(upgradeLog.find("(process " + std::to_string(other.Id()) + ")."), std::string::npos);
    EXPECT_NE(upgradeLog.find("Orvelle: started Orvelle again in session "), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return (running = InstalledRunning()).size() == 1; }, kStartLimit));
    remote::Process restarted = remote::Process::Open(running[0]);
    EXPECT_TRUE(WaitFor([&] { return FindTopLevel(restarted.Id(), L"OrvelleMainWindow") != nullptr; }, kStartLimit));
    entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].version, nextVersion);
    EXPECT_EQ(FileNamesIn(InstallFolder()), std::vector<std::wstring>{L"orvelle.exe"});
    EXPECT_EQ(ShortcutTargets(), std::vector<std::wstring>{InstalledExe()});
    EXPECT_EQ(MachineRunEntry(), RunData());
    EXPECT_EQ(UserRunEntry(), RunData());
    EXPECT_EQ(Settings(), settings);

    // ---- the same version again, as the same package and as a rebuilt one
    // (another product code), and the older version, which refuses to
    // install (Windows Installer's "fatal error"): still one entry
    const struct {
        const wchar_t* package;
        DWORD exitCode;
    } again[] = {{L"ORVELLE_NEXT_MSI", 0}, {L"ORVELLE_REBUILT_MSI", 0}, {L"ORVELLE_MSI", ERROR_INSTALL_FAILURE}};
    for (const auto& [package, exitCode] : again) {
        EXPECT_EQ(Msiexec(L"/i \"" + WindowsPath(Variable(package)) + L"\" /qn"), exitCode) << ToUtf8(package);
        entries = Entries();
        ASSERT_EQ(entries.size(), 1u) << ToUtf8(package);
        EXPECT_EQ(entries[0].version, nextVersion) << ToUtf8(package);
    }
    EXPECT_EQ(MachineRunEntry(), RunData());

    // ---- removal while it runs (the copy the upgrade started again), as
    // Apps & features starts it
    ASSERT_EQ(Msiexec(L"/x " + entries[0].productCode + L" /qn"), 0u);
    ASSERT_TRUE(restarted.WaitExit(kActionLimit)) << "the installer left Orvelle running";
    EXPECT_EQ(restarted.ExitCode(), 0u);
    EXPECT_TRUE(WaitFor([] { return FindTrayIcon(kTitle) == nullptr; }, kActionLimit));
    EXPECT_FALSE(PathExists(InstallFolder()));
    EXPECT_TRUE(ShortcutTargets().empty());
    EXPECT_TRUE(Entries().empty());
    EXPECT_FALSE(MachineRunEntry());
    EXPECT_FALSE(UserRunEntry());
    // What is the user's stays: settings, history, backups.
    EXPECT_EQ(Settings(), settings);
    EXPECT_EQ(ReadFileBytes(box_.HistoryFile()), history);
    EXPECT_EQ(ReadFileBytes(backup), "a backup");
}

}  // namespace
