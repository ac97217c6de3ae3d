#pragma once
// What the benchmarks' backup runs read: new files in one fixed folder, and a
// message-only window of their own as the clipboard's owner.
#include "engine/SaveWord.h"

#include <string>

struct FixedFolderSettings : BackupSettings {
    std::wstring folder, history;
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    bool SaveBesideDocuments() const override { return false; }
    bool SaveToFixedFolder() const override { return true; }
    std::wstring FixedFolder() const override { return folder; }
    bool CreateNewFile() const override { return true; }
    std::wstring DocExtension() const override { return L".docx"; }
    std::wstring HistoryFile() const override { return history; }
    HWND Owner() const override { return owner; }
    std::wstring AskForFolder(const std::wstring&) const override { return {}; }  // fixed folder: never asked
};
