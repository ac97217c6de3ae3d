#pragma once
// What the benchmarks' backup runs read: new files in one fixed folder, and a
// message-only window of their own as the clipboard's owner.
#include "engine/SaveWord.h"

#include <string>

struct FixedFolderSettings : RunHost {
    std::wstring folder, history, journal;
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    BackupRun run;
    bool clipboardCopy = true;  // the classic way, unless a run measures the package way
    std::wstring AskForFolder(const std::wstring&) override { return {}; }  // fixed folder: never asked
};

inline RunOutcome SaveAll(FixedFolderSettings& s) {
    return s.run.SaveAll(
        {.fixedFolder = s.folder,
         .historyFile = s.history,
         .journalFile = s.journal,
         .owner = s.owner,
         .clipboardCopy = s.clipboardCopy},
        s);
}
