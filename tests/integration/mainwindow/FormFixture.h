#pragma once
// Form1 created in this process with its handlers driven directly.  The
// settings key is the real one: its values are saved before each test and
// put back afterwards.  Message boxes are answered by the test; Word, the
// folder dialog, started programs and the end of the process are recorded.
#include "mainwindow/Form1.h"
#include "mainwindow/Settings.h"
#include "shell/mSysTray.h"
#include "support/Clipboard.h"
#include "support/Files.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Every value of the settings key, or none when the key is absent.
class SettingsSnapshot {
public:
    SettingsSnapshot() { saved_ = Read(); }
    ~SettingsSnapshot() {
        RegDeleteTreeW(HKEY_CURRENT_USER, settings::kKeyPath);
        if (!saved_) return;
        for (const auto& [name, value] : *saved_)
            RegSetKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, name.c_str(), value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size()));
    }
    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    using Values = std::map<std::wstring, Value>;
    static std::optional<Values> Read();
    // The stored texts (REG_SZ values only) by name.
    static std::map<std::wstring, std::wstring> Texts();
    static void Clear() { RegDeleteTreeW(HKEY_CURRENT_USER, settings::kKeyPath); }

private:
    std::optional<Values> saved_;
};

// A call of the tray control to the shell.
struct ShellCall {
    DWORD message;
    UINT flags;
    std::wstring info, title;
    UINT timeout;
};

struct Recorded {
    int saveAllCalls = 0;
    std::vector<std::pair<std::wstring, int>> commands;  // command line, show state
    std::vector<std::wstring> pickerTitles;
    std::wstring pickerAnswer;
    int addToStartup = 0, removeFromStartup = 0;
    int finishRunNow = 0;
    std::optional<UINT> exitCode;
    int finishRunNowAtExit = 0;
    std::optional<bool> inTrayAtExit;
    std::vector<MessageBoxRequest> boxes;
    std::deque<int> answers;  // IDOK when empty
    std::vector<ShellCall> shell;  // passed on to the real shell
};

class FormTest;

// The window's services in a test: Word is there (version 16), the draw is
// never 7, and everything the form starts or asks is recorded.  A function
// set replaces a stand-in; an empty one is the real thing.
struct FormServices : Form1Services {
    FormTest* test = nullptr;
    std::function<bool()> checkWordAvailable = [] { return true; };
    std::function<double()> getWordVersion = [] { return 16.0; };
    std::function<RunOutcome(const BackupOptions&, RunHost&)> saveAll;
    std::function<int()> drawPercent = [] { return 50; };
    std::function<void(const std::wstring&, int)> startCommand;
    std::function<void()> addToStartup, removeFromStartup;

    bool CheckWordAvailable() override { return checkWordAvailable(); }
    double GetWordVersion() override { return getWordVersion(); }
    // None set: the real run.
    RunOutcome SaveAll(BackupRun& run, const BackupOptions& o, RunHost& host) override {
        return saveAll ? saveAll(o, host) : Form1Services::SaveAll(run, o, host);
    }
    int DrawPercent() override { return drawPercent(); }
    void StartCommand(const std::wstring& line, int show) override {
        startCommand ? startCommand(line, show) : Form1Services::StartCommand(line, show);
    }
    void AddToStartup() override { addToStartup ? addToStartup() : Form1Services::AddToStartup(); }
    void RemoveFromStartup() override { removeFromStartup ? removeFromStartup() : Form1Services::RemoveFromStartup(); }
    void FinishRunNow(BackupRun&) override;
    std::wstring BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start) override;
    void EndProcess(UINT code) override;
    std::wstring InstanceName() override { return L"Local\\Kelvane.Orvelle.Tests"; }
    int ShowBox(const MessageBoxRequest& request) override;
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA& record) override;
    BOOL NotifyIconWide(DWORD message, NOTIFYICONDATAW& record) override;
};

class FormTest : public ::testing::Test {
    friend struct FormServices;

protected:
    void SetUp() override;
    void TearDown() override;

    FormServices Services();
    Form1& Create(FormServices services);
    Form1& Create() { return Create(Services()); }
    Form1& Load(FormServices services);
    Form1& Load() { return Load(Services()); }

    // Runs the form's pending messages.
    static void Pump();
    // Tests drive Timer1 by hand; only a test that calls this sees its real
    // ticks (on a loaded machine a second passes inside any pump).
    static void LetTheRealTimerTick();

    Recorded rec;
    std::unique_ptr<Form1> form;
    fs::path temp;  // the TEMP of the test, with a space in it

private:
    std::unique_ptr<SettingsSnapshot> snapshot_;
    std::wstring oldTemp_;
    HHOOK timerFilter_ = nullptr;
};

// The clipboard and files, through the test support.
inline std::optional<std::wstring> ClipboardText() { return TestClipboard::Text(); }
inline void SetClipboardText(const std::wstring& text) { TestClipboard::SetUnicodeText(text); }
inline void WriteFile(const fs::path& path, const std::string& bytes) { WriteFileBytes(path, bytes); }
inline std::string ReadFile(const fs::path& path) { return ReadFileBytes(path); }
