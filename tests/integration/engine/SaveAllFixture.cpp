#include "SaveAllFixture.h"

#include "engine/BackupJournal.h"
#include "shell/AddFolder.h"
#include "support/Files.h"

#include <algorithm>

std::wstring TestSettings::AskForFolder(const std::wstring& prompt) {
    return BrowseForFolder(owner, prompt, L"");
}

SYSTEMTIME Noon() {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 7, t.wHour = 13, t.wMinute = 5, t.wSecond = 9;
    return t;
}

std::wstring FirstLine(const std::wstring& report) { return report.substr(0, report.find(L"\r\n")); }

SaveAllRun::SaveAllRun() {
    services.clock = Noon;
    services.boxes = [this](const MessageBoxRequest& r) {
        reports.push_back(r.text);
        return IDOK;
    };
    backups = session.folder().path() + L"\\Backups";
    CreateDirectoryW(backups.c_str(), nullptr);
    settings.folder = backups;
    settings.history = session.folder().file(L"History.txt");
    settings.journal = session.folder().file(L"Backups.journal");
    owner = CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                            nullptr, nullptr);
    settings.owner = owner;
}

SaveAllRun::~SaveAllRun() {
    SetBusyRetryBound(std::chrono::seconds(30));
    SetCallAnswerBounds({});
    DestroyWindow(owner);
}

std::vector<std::wstring> SaveAllRun::historyLines() const { return ReadAnsiLines(settings.history); }

void SaveAllRun::journalNames(const std::wstring& path, const std::wstring& fullName) {
    BackupJournal(settings.journal)
        .record({{fullName}, fullName.substr(fullName.rfind(L'\\') + 1), path, 0, BackupFileSize(path).value_or(0)});
}

int SaveAllRun::calls(const std::wstring& member) const {
    auto log = session.calls();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](auto& c) { return c.member == member; }));
}

bool SaveAllRun::onlyUserWordLeft(DWORD userPid) {
    for (DWORD pid : StandIn::RunningStandIns())
        if (pid != userPid && !StandIn::WaitForExit(pid, 15000)) return false;
    return true;
}
