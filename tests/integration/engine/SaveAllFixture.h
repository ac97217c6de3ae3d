#pragma once
// The backup run against the stand-in, with real files, the real clipboard,
// the real folder dialog and the real history file: the settings a run
// reads, and the fixture that records its reports and sees what it left.
#include "common/Automation.h"
#include "engine/SaveWord.h"
#include "engine/WordProbes.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// The window's side of a run: its options as plain fields, and its answers.
struct TestSettings : RunHost {
    bool beside = false, fixed = true, newFile = true;
    std::wstring folder, extension = L".docx", history, journal;
    HWND owner = nullptr;
    int started = 0, ended = 0;
    bool skipUnchanged = false;
    int keepDays = 0;
    bool thin = false;
    // Most runs here stage the clipboard way's faults.
    bool clipboardCopy = true;
    std::vector<RunNote> notes;  // as runs told them
    std::vector<std::wstring> saved;  // the backups the run said it wrote
    std::vector<SavedBackup> told;    // and all it said of them
    std::vector<ClosedDocument> closed;  // told as closed with unsaved changes
    BackupOptions options() const {
        return {fixed,         beside,   folder, newFile, extension, history, journal, owner, skipUnchanged,
                keepDays,      thin,     clipboardCopy};
    }
    void BackupNoted(RunNote note) override { notes.push_back(note); }
    int noted(RunNote note) const { return static_cast<int>(std::ranges::count(notes, note)); }
    void BackupStarted() override { ++started; }
    void BackupEnded() override { ++ended; }
    void BackupSaved(const SavedBackup& backup) override {
        saved.push_back(backup.path);
        told.push_back(backup);
    }
    std::wstring AskForFolder(const std::wstring& prompt) override;
    void DocumentsClosedUnsaved(const std::vector<ClosedDocument>& documents) override {
        closed.insert(closed.end(), documents.begin(), documents.end());
    }
};

// The run's clock: 7 Dec 2026, 1:05:09 PM.
SYSTEMTIME Noon();
// The first line of a report: the failure's description.
std::wstring FirstLine(const std::wstring& report);

class SaveAllRun : public ::testing::Test {
protected:
    SaveAllRun();
    ~SaveAllRun() override;

    // A run with the options the settings hold as it starts.
    RunOutcome SaveAll(TestSettings& s) { return run.SaveAll(s.options(), s); }
    std::wstring doc(const std::wstring& name, const std::wstring& text) { return session.folder().write(name, text); }
    // The backup name of base in "Create new file" mode at Noon().
    std::wstring stamped(const std::wstring& base) const { return base + L" Date Dec 7 2026 Time 01 05 09 PM.docx"; }
    std::vector<std::wstring> historyLines() const;
    // Records path, as it is now, in the run's journal as a backup of the
    // saved document fullName.
    void journalNames(const std::wstring& path, const std::wstring& fullName);
    // How many calls of member the stand-ins logged.
    int calls(const std::wstring& member) const;
    // Waits until only the user's Word is left, as after every run.
    bool onlyUserWordLeft(DWORD userPid);

    ComApartment com;
    MessageFilterRegistration filter;  // as the program's window thread has it
    TestServices services;
    BackupRun run;
    StandIn::Session session;
    TestSettings settings;
    std::wstring backups;
    std::vector<std::wstring> reports;
    HWND owner = nullptr;
};
