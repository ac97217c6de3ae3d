#pragma once
// The backup engine: Word probes, backup names, the interval table and the
// backup run.  Everything here runs on the GUI thread.
#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>
#include <string>

inline constexpr wchar_t kWordProgId[] = L"Word.Application";

// ---- Word probes -------------------------------------------------------------

// The five-paragraph explanation shown when no Word instance can be created.
extern const wchar_t kWordUnavailableMessage[];

// Creates and quits a Word instance.  When none can be created it shows the
// explanation (captioned with the application title) and answers false; the
// caller then ends the program.
bool CheckWordAvailable();
// Word's version number from a fresh instance; 0 when none could be created or
// the version text does not convert (reported under the probe's location).
double GetWordVersion();
// True only when a running Word can be attached and calls itself
// "Microsoft Word"; never fails, never quits the user's Word.
bool IsWordRunning();
// What the running-Word probe found, for the backup run: a Word that stays
// busy past the retry bound (one of its dialogs is open) is not "no Word".
enum class WordState { NotRunning, Running, Busy };
WordState ProbeRunningWord();
// ".docx" above version 11, ".doc" otherwise.
std::wstring DocExtensionFor(double version);

// ---- Backup names --------------------------------------------------------------

// The clock that backup names and history lines read; tests replace it.
SYSTEMTIME LocalNow();
void SetClockForTests(std::function<SYSTEMTIME()> clock);  // nullptr restores the real one

// Base path (folder, backslash, document name) stamped with the date, and in
// new-file mode the time, plus the backup extension.
std::wstring BuildBackupName(const std::wstring& basePath, bool newFileMode, const std::wstring& docExtension);
// A document name made fit to stand in a file name: characters that a file
// name cannot hold become "_", so do blanks and dots at its end, and a name
// that Windows would take for a device (CON, COM1.txt, ...) gets a "_" after
// its device part.
std::wstring FileNameSafe(const std::wstring& documentName);
// The backup path for a document in a folder: the safe name, shortened when
// the stamped path would pass the path limit (room kept for a " (n)"), and
// stamped by BuildBackupName.
std::wstring BackupPathFor(const std::wstring& folder, const std::wstring& documentName, bool newFileMode,
                           const std::wstring& docExtension);
// The longest path a backup may have: MAX_PATH without its terminator.
inline constexpr size_t kMaxBackupPath = MAX_PATH - 1;

// Gives out backup paths so that documents of one name never share a file:
// the first document to claim a path gets it, later ones " (2)", " (3)"...
// before the extension, and a document keeps its number for as long as the
// registry lives (keyed by its full path, or its name when never saved).
class BackupPathRegistry {
public:
    std::wstring claim(const std::wstring& documentKey, const std::wstring& path, const std::wstring& docExtension);

private:
    std::map<std::wstring, std::vector<std::wstring>> claims_;  // upper-case path -> documents in claim order
};

// The user's general date form: short date, a blank, long time.
std::wstring GeneralDate(const SYSTEMTIME& time);

// ---- Interval table --------------------------------------------------------------

struct IntervalItem {
    const wchar_t* text;
    long seconds;
};
inline constexpr IntervalItem kIntervals[] = {
    {L"Save every 30 seconds", 30},   {L"Save every 1 minute", 60},     {L"Save every 5 minutes", 300},
    {L"Save every 15 minutes", 900},  {L"Save every 30 minutes", 1800}, {L"Save every hour", 3600},
    {L"Save every 2 hours", 7200},    {L"Save every 4 hours", 14400},   {L"Save every 8 hours", 28800},
    {L"Save every 24 hours", 86400},
};
// Seconds of the row whose text equals the selected item's text exactly, 0
// when none does; fails when no item is selected.
long GetIntervalSeconds(const std::optional<std::wstring>& selectedItemText);

// ---- Backup run ------------------------------------------------------------------

// What the run reads from the main window at the moment it runs.
class BackupSettings {
public:
    virtual ~BackupSettings() = default;
    virtual bool SaveBesideDocuments() const = 0;  // Option2
    virtual bool SaveToFixedFolder() const = 0;    // Option1
    virtual std::wstring FixedFolder() const = 0;  // Text1, taken unchanged
    virtual bool CreateNewFile() const = 0;        // Option3 (else Option4: overwrite)
    virtual std::wstring DocExtension() const = 0;
    virtual std::wstring HistoryFile() const = 0;
    virtual HWND Owner() const = 0;                // owner of the clipboard
    // Asks the user for the folder of a never-saved document (the folder
    // picker, owned by the window); empty when cancelled.
    virtual std::wstring AskForFolder(const std::wstring& prompt) const = 0;
    // Housekeeping: no new backup of a document whose content has not
    // changed since its last one; and in new-file mode, stamped backups
    // older than this many days removed after the run (0 keeps them all).
    virtual bool SkipUnchanged() const { return false; }
    virtual int KeepBackupsDays() const { return 0; }
    // Every document copied through the clipboard, as for Word 2003, even
    // where Word could give its package.
    virtual bool ClipboardCopy() const { return false; }
    // Told when the run has found Word and begins backing up, and when that
    // backing up is over; not told for a run that finds nothing to do.
    virtual void BackupStarted() {}
    virtual void BackupEnded() {}
};

// How a run ended, for the window to show.
enum class RunOutcome {
    AlreadyRunning,    // a run was under way: this call did nothing
    NoWord,            // no Word running: nothing to back up
    WordDidNotAnswer,  // a Word is running but stayed busy past the retry bound
    Done,              // the documents were gone through (failures were reported)
};

// One backup pass over every document open in the user's Word.  Failures are
// reported under "in Quillbay2021/08/31.SaveWord.SaveAll " and never reach
// the caller.  A call while a run is under way returns at once.
RunOutcome SaveAll(BackupSettings& settings);
bool IsBackupRunning();

// For a close or log-off that comes while a run waits (for the clipboard, the
// folder picker or a report): quits the run's own Word instances and puts the
// user's clipboard back now, within a bound; the run then does nothing more.
// Does nothing when no run is under way.
void FinishRunNow();

// Appends one line and CR LF, in the ANSI code page, to the history file.
void AppendHistoryLine(const std::wstring& historyFile, const std::wstring& line);
