#pragma once
// The fixture of the end-to-end tests: each test gets scratch folders with
// blanks in their names (program folder, TEMP, backup folder), a clean
// settings store, no Run entry, and the Word stand-in registered; it starts
// the built orvelle.exe from its own copy and drives it from outside.
// Teardown ends every process the test started and waits for it.
#include "e2e/support/Controls.h"
#include "e2e/support/Program.h"
#include "mainwindow/ControlIds.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

inline constexpr wchar_t kTitle[] = L"Orvelle";
inline constexpr wchar_t kStoreKey[] = L"Software\\VB and VBA Program Settings\\Kelvane\\Orvelle";
inline constexpr wchar_t kMachineRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kUserRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kProgramFile[] = L"orvelle.exe";

// Waits that cover a start of the program, a COM start of the stand-in and
// the odd slow moment of a shared machine.
inline constexpr Millis kStartLimit = 30s;
inline constexpr Millis kActionLimit = 10s;

struct Sandbox {
    std::wstring root;           // ends in "\"
    std::wstring programFolder;  // holds the copy of orvelle.exe
    std::wstring exe;
    std::wstring temp;           // the program's TEMP
    std::wstring backups;        // a backup folder

    std::wstring HistoryFile() const { return temp + L"\\Orvelle.txt"; }
};

// One running orvelle.exe.
class Orvelle {
public:
    Orvelle(const Sandbox& box, const remote::Environment& extra = {});
    // Closes the program when it still runs, and kills it if that fails: a
    // killed program leaves its tray icon behind.
    ~Orvelle();

    remote::Process& Process() { return process_; }
    DWORD Pid() const { return process_.Id(); }
    // The main window; waits for it (bounded) on first use.
    HWND Window();
    HWND Control(int id);
    std::wstring Caption(int id) { return TextOf(Control(id)); }
    bool Checked(int id) { return remote::Checked(Control(id)); }
    void Click(int id) { remote::Click(Control(id)); }

    // The interval list: 1-based position of the selected item, 0 for none.
    int SelectedInterval();
    void ClickInterval(int position);
    remote::Progress Progress() { return remote::ProgressOf(Control(ids::ProgressBar1)); }
    // Seconds left in the countdown caption of Frame2; nullopt when it shows
    // something else.
    std::optional<int> SecondsLeft();
    // Start-up is over once a countdown tick has rewritten Frame2: ticks are
    // handled only after the load handler has returned.
    bool WaitFirstTick(Millis limit = kStartLimit) {
        return WaitFor([&] { return SecondsLeft().has_value(); }, limit);
    }

    // A message box of this process with caption, waited for.
    HWND WaitBox(const std::wstring& caption, Millis limit = kActionLimit) {
        return remote::WaitMessageBox(Pid(), caption, limit);
    }
    // Closes the window as the user would and waits for the process to end.
    bool Close(Millis limit = kActionLimit);
    bool WaitExit(Millis limit) { return process_.WaitExit(limit); }

private:
    remote::Process process_;
    HWND window_ = nullptr;
};

class E2ETest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Orvelle& Start(const remote::Environment& extra = {});
    std::unique_ptr<Orvelle> StartDetached(const remote::Environment& extra = {});

    // The settings store.
    static void ClearStore();
    static void Seed(const std::wstring& name, const std::wstring& value);
    static std::optional<std::wstring> Stored(const std::wstring& name);
    static std::vector<std::wstring> StoredNames();
    // Waits until the store holds value under name (nullopt: holds nothing).
    static bool WaitStored(const std::wstring& name, const std::optional<std::wstring>& value,
                           Millis limit = kActionLimit);

    // The program's Run entry: the machine-wide one, else the user's.
    static std::optional<std::wstring> RunEntry();
    static void RemoveRunEntries();

    // The "Word.Application" stand-in: registered, no faults, a call log;
    // every stand-in is ended at teardown.
    StandIn::Session& Word() { return *word_; }

    Sandbox box_;
    std::vector<std::unique_ptr<Orvelle>> started_;

private:
    ComApartment com_;
    std::optional<StandIn::Session> word_;
};

}  // namespace e2e
