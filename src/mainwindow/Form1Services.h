#pragma once
// The window's services: the common ones (clock, free space, message boxes,
// the tray's shell calls) and what only the window asks for: Word at
// start-up, the backup run, the random draw, the programs started, the
// folder dialog, the start-with-Windows entry and the end of the process.
// Each defaults to the real thing; a test derives and overrides what it
// needs.  The window puts its services in place for the whole process.
#include "common/Services.h"
#include "engine/SaveWord.h"
#include "engine/WordEvents.h"

#include <windows.h>

#include <string>

class Form1Services : public Services {
public:
    virtual bool CheckWordAvailable();
    virtual double GetWordVersion();
    // The window's tests replace the run as a whole (there is no Word), so
    // the run and its finish are asked of the services.
    virtual RunOutcome SaveAll(BackupRun& run, const BackupOptions& options, RunHost& host);
    // One document of a Word, backed up the run's way (inside Word's close,
    // or before the session ends).
    virtual OneBackup BackUpOne(BackupRun& run, const Dispatch& word, const Dispatch& document,
                                const BackupOptions& options, RunHost& host);
    // For a close while a run waits: lets the run clean up at once.
    virtual void FinishRunNow(BackupRun& run);
    // A whole number from 1 to 100 for the occasional home-page visit.
    virtual int DrawPercent();
    // Starts a command line with the given show state, without waiting.
    virtual void StartCommand(const std::wstring& commandLine, int show);
    virtual std::wstring BrowseForFolder(HWND owner, const std::wstring& title, const std::wstring& start);
    virtual void AddToStartup();
    virtual void RemoveFromStartup();
    // Ends the process at once.  A test's stand-in returns, and the caller
    // then returns without running anything else.
    virtual void EndProcess(UINT exitCode);
    // Name of the mutex that tells a second instance of the same user apart.
    virtual std::wstring InstanceName();
};

// The runtime's random draw: seeded from the seconds since midnight, the
// whole part of a uniform fraction times 100, plus 1.
int DrawPercent();
// CreateProcess of a command line, show state from STARTUPINFO; no wait.
void StartCommand(const std::wstring& commandLine, int show);
// "Local\" mutex name unique to the user (session-local by the prefix).
std::wstring DefaultInstanceName();
// The SID of the process's user as text ("S-1-5-21-..."), empty when the
// token does not say.
std::wstring CurrentUserSid();
