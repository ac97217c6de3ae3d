#pragma once
// The backups catalogue read on a thread of its own, so that the window
// that shows it keeps answering while folders of many thousand backups are
// read (Wine lists about 40,000 names a second).
#include "backupswindow/BackupCatalogue.h"
#include "common/Handle.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CatalogueLoad {
public:
    // Starts reading at once.  Whenever found backups wait to be taken, one
    // message is posted to window (no second one until take is called).
    CatalogueLoad(std::wstring historyFile, std::wstring journalFile, std::vector<std::wstring> rememberedFolders,
                  HWND window, UINT message);
    // Stops the reading.  Nothing is posted once this returns; the thread is
    // waited for a short bound only (a folder on a lost network share may
    // hold it for longer), and then ends by itself.
    ~CatalogueLoad();
    CatalogueLoad(const CatalogueLoad&) = delete;
    CatalogueLoad& operator=(const CatalogueLoad&) = delete;

    // Merges what was found since the last call into catalogue.  Answers
    // whether the reading is over, every part taken.
    bool take(BackupCatalogue& catalogue);
    // Why the reading ended early (the history file could not be read).
    std::optional<std::wstring> failure() const;

private:
    struct State;
    static void Read(State& state);
    std::shared_ptr<State> state_;
    UniqueHandle thread_;
};
