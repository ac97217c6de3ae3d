#include "e2e/support/E2E.h"

#include "common/Failure.h"
#include "common/Text.h"
#include "support/Files.h"
#include "support/NotificationArea.h"
#include "support/Paths.h"
#include "support/Registry.h"

#include <atomic>
#include <cstdio>
#include <cwctype>

namespace e2e {

namespace {

constexpr wchar_t kCountdownPrefix[] = L"On. Next backup save will occur in ";

std::wstring TempFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, path);
    return path;
}

void MakeFolder(const std::wstring& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw Failure::FromLastError();
}

// Programs of an earlier, aborted test on this bench would answer our
// searches.  They were started by these tests, on this bench's own Wine
// prefix and display.
void EndLeftovers() {
    for (HWND w : TopLevelWindows(0, kMainWindowClass)) remote::Process::Open(ProcessOf(w)).Kill();
}

// The seconds of a countdown caption "On. Next backup save will occur in hh:mm:ss".
std::optional<int> ParseCountdown(const std::wstring& caption) {
    const std::wstring prefix = kCountdownPrefix;
    if (caption.size() != prefix.size() + 8 || caption.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const wchar_t* c = caption.c_str() + prefix.size();
    auto two = [&](int at) -> std::optional<int> {
        if (!std::iswdigit(c[at]) || !std::iswdigit(c[at + 1])) return std::nullopt;
        return (c[at] - L'0') * 10 + (c[at + 1] - L'0');
    };
    auto h = two(0), m = two(3), s = two(6);
    if (!h || !m || !s || c[2] != L':' || c[5] != L':') return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

// A picture of the whole X screen, taken with ImageMagick's import; false
// when that cannot be run.
bool Screenshot(const std::wstring& path) {
    // Wine starts a Unix program named by its Unix path; its arguments then
    // take Unix paths too.
    std::wstring unixPath = UnixPath(path);
    if (unixPath.empty()) return false;
    // Through the shell: Wine hands a Unix program's command line over as
    // it stands only when no application name is given.
    std::wstring commandLine = L"/bin/sh -c \"import -window root '" + unixPath + L"'\"";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    // The exit code that Wine reports for a Unix process says nothing.
    WaitForSingleObject(pi.hProcess, 20000);
    CloseHandle(pi.hProcess);
    return PathExists(path);
}

}  // namespace

// ---- Orvelle ---------------------------------------------------------------------

Orvelle::Orvelle(const Sandbox& box, const remote::Environment& extra) {
    remote::Environment environment = {{L"TEMP", box.temp}, {L"TMP", box.temp}};
    for (const auto& [name, value] : extra) environment[name] = value;
    process_ = remote::Process::Start(box.exe, {}, environment, box.programFolder);
}

Orvelle::~Orvelle() {
    if (!process_.Running()) return;
    if (HWND w = FindTopLevel(Pid(), kMainWindowClass)) {
        remote::PostClose(w);
        process_.WaitExit(5s);
    }
    process_.Kill();
}

HWND Orvelle::Window() {
    if (!window_ || !IsWindow(window_)) window_ = WaitTopLevel(Pid(), kMainWindowClass, nullptr, kStartLimit);
    if (!window_) throw Failure::Text(L"the main window did not appear");
    return window_;
}

HWND Orvelle::Control(int id) {
    // The window can be found a moment before its controls exist.
    HWND control = nullptr;
    WaitFor([&] { return (control = FindDescendant(Window(), id)) != nullptr; }, kStartLimit);
    if (!control) throw Failure::Text(L"no control with id " + std::to_wstring(id));
    return control;
}

int Orvelle::SelectedInterval() { return remote::ListViewSelected(Control(ids::ListView1)) + 1; }

void Orvelle::ClickInterval(int position) { remote::ClickListViewItem(Control(ids::ListView1), position - 1); }

std::optional<int> Orvelle::SecondsLeft() { return ParseCountdown(Caption(ids::Frame2)); }

bool Orvelle::Close(Millis limit) {
    remote::PostClose(Window());
    return process_.WaitExit(limit);
}

// ---- Fixture -----------------------------------------------------------------------

void E2ETest::SetUp() {
    EndLeftovers();
    SweepDeadTrayIcons();
    static std::atomic<int> counter{0};
    box_.root = TempFolder() + L"Orvelle e2e " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter) + L"\\";
    RemoveFolderTree(box_.root);
    MakeFolder(box_.root);
    MakeFolder(box_.root + L"Program Files");
    box_.programFolder = box_.root + L"Program Files\\Orvelle Backup";
    MakeFolder(box_.programFolder);
    box_.exe = box_.programFolder + L"\\" + kProgramFile;
    // The program enters the first exe of its folder in the Run key, so it
    // runs from a folder of its own, as installed.
    if (!CopyFileW((BinFolder() + L"\\orvelle.exe").c_str(), box_.exe.c_str(), FALSE))
        throw Failure::Text(L"orvelle.exe is not built in " + BinFolder());
    box_.temp = box_.root + L"Temp Folder";
    MakeFolder(box_.temp);
    box_.backups = box_.root + L"Backup Folder";
    MakeFolder(box_.backups);
    ClearStore();
    RemoveRunEntries();
    word_.emplace();
}

void E2ETest::TearDown() {
    if (HasFailure()) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::wstring shots = BinFolder() + L"\\..\\e2e-screenshots";
        CreateDirectoryW(shots.c_str(), nullptr);
        std::wstring shot = shots + L"\\" + FromUtf8(info->test_suite_name()) + L"." + FromUtf8(info->name()) + L".png";
        if (Screenshot(shot)) std::printf("screenshot: %s\n", ToUtf8(shot).c_str());
    }
    started_.clear();
    EndLeftovers();
    // Stand-ins that COM started for a program killed in a call go too.
    word_.reset();
    SweepDeadTrayIcons();
    ClearStore();
    RemoveRunEntries();
    // Wine lets go of a dead program's files a moment after its end.
    WaitFor(
        [&] {
            RemoveFolderTree(box_.root);
            return !PathExists(box_.root);
        },
        5s, 100ms);
}

Orvelle& E2ETest::Start(const remote::Environment& extra) {
    started_.push_back(std::make_unique<Orvelle>(box_, extra));
    return *started_.back();
}

std::unique_ptr<Orvelle> E2ETest::StartDetached(const remote::Environment& extra) {
    return std::make_unique<Orvelle>(box_, extra);
}

void E2ETest::ClearStore() { reg::DeleteTree(HKEY_CURRENT_USER, kStoreKey); }

void E2ETest::Seed(const std::wstring& name, const std::wstring& value) {
    reg::SetString(HKEY_CURRENT_USER, kStoreKey, name, value);
}

std::optional<std::wstring> E2ETest::Stored(const std::wstring& name) {
    return reg::GetString(HKEY_CURRENT_USER, kStoreKey, name);
}

std::vector<std::wstring> E2ETest::StoredNames() { return reg::ValueNames(HKEY_CURRENT_USER, kStoreKey); }

bool E2ETest::WaitStored(const std::wstring& name, const std::optional<std::wstring>& value, Millis limit) {
    return WaitFor([&] { return Stored(name) == value; }, limit);
}

std::optional<std::wstring> E2ETest::RunEntry() {
    if (auto machine = reg::GetString(HKEY_LOCAL_MACHINE, kMachineRunKey, kProgramFile)) return machine;
    return reg::GetString(HKEY_CURRENT_USER, kUserRunKey, kProgramFile);
}

void E2ETest::RemoveRunEntries() {
    reg::DeleteValue(HKEY_LOCAL_MACHINE, kMachineRunKey, kProgramFile);
    reg::DeleteValue(HKEY_CURRENT_USER, kUserRunKey, kProgramFile);
}

}  // namespace e2e
