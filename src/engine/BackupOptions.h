#pragma once
// What the window hands a backup run when it starts.  The run reads nothing
// else of the window while it works, so whatever its waits dispatch (a click
// on an option while it waits for the clipboard or the folder picker)
// changes the next run, never the one under way.
#include <windows.h>

#include <string>

struct BackupOptions {
    // Where: into one folder (Option1, Text1 taken unchanged) or beside each
    // document (Option2).  Neither while no location is chosen.
    bool saveToFixedFolder = true;
    bool saveBesideDocuments = false;
    std::wstring fixedFolder;
    // New, time-stamped file (Option3), or the day's file overwritten (Option4).
    bool createNewFile = true;
    std::wstring docExtension = L".docx";
    std::wstring historyFile;
    // Which document each backup is of (BackupJournal).
    std::wstring journalFile;
    HWND owner = nullptr;  // owner of the clipboard and of the run's questions
    // Housekeeping: no new backup of a document whose content has not
    // changed since its last one; in new-file mode, stamped backups older
    // than this many days removed after the run (0 keeps them all), or
    // thinned out.
    bool skipUnchanged = false;
    int keepBackupsDays = 0;
    bool thinBackups = false;
    // Documents copied through the clipboard even where another way exists.
    bool clipboardCopy = false;
};

// Word 2007 and later (a version above 11, for which start-up chose
// ".docx") give each document's package; Clipboard Copy goes the classic way.
inline bool PackageWay(const BackupOptions& options) {
    return !options.clipboardCopy && options.docExtension == L".docx";
}
