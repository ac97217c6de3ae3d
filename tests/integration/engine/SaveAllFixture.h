#pragma once
// The backup run against the stand-in, with real files, the real clipboard,
// the real folder dialog and the real history file: the settings a run
// reads, and the fixture that records its reports and sees what it left.
#include "engine/SaveWord.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The window's side of a run, as plain fields.
struct TestSettings : BackupSettings {
    bool beside = false, fixed = true, newFile = true;
    std::wstring folder, extension = L".docx", history;
    HWND owner = nullptr;
    int started = 0, ended = 0;
    bool skipUnchanged = false;
    int keepDays = 0;
    bool thin = false;
    int spaceSkips = 0;
    bool SkipUnchanged() const override { return skipUnchanged; }
    int KeepBackupsDays() const override { return keepDays; }
    bool ThinBackups() const override { return thin; }
    void BackupSkippedForSpace() override { ++spaceSkips; }
    void BackupStarted() override { ++started; }
    void BackupEnded() override { ++ended; }
    bool SaveBesideDocuments() const override { return beside; }
    bool SaveToFixedFolder() const override { return fixed; }
    std::wstring FixedFolder() const override { return folder; }
    bool CreateNewFile() const override { return newFile; }
    std::wstring DocExtension() const override { return extension; }
    std::wstring HistoryFile() const override { return history; }
    HWND Owner() const override { return owner; }
    std::wstring AskForFolder(const std::wstring& prompt) const override;
};

// The run's clock: 7 Dec 2026, 1:05:09 PM.
SYSTEMTIME Noon();
// The first line of a report: the failure's description.
std::wstring FirstLine(const std::wstring& report);

class SaveAllRun : public ::testing::Test {
protected:
    SaveAllRun();
    ~SaveAllRun() override;

    std::wstring doc(const std::wstring& name, const std::wstring& text) { return session.folder().write(name, text); }
    // The backup name of base in "Create new file" mode at Noon().
    std::wstring stamped(const std::wstring& base) const { return base + L" Date Dec 7 2026 Time 01 05 09 PM.docx"; }
    std::vector<std::wstring> historyLines() const;
    // How many calls of member the stand-ins logged.
    int calls(const std::wstring& member) const;
    // Waits until only the user's Word is left, as after every run.
    bool onlyUserWordLeft(DWORD userPid);

    ComApartment com;
    StandIn::Session session;
    TestSettings settings;
    std::wstring backups;
    std::vector<std::wstring> reports;
    HWND owner = nullptr;
};
