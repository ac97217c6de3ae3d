#pragma once
// The few places where tests stand in for the world: the random draw, the
// programs started, the folder dialog, Word and the end of the process.
// Each defaults to the real thing.
#include "engine/SaveWord.h"

#include <windows.h>

#include <functional>
#include <string>

struct Form1Services {
    std::function<bool()> checkWordAvailable;
    std::function<double()> getWordVersion;
    std::function<RunOutcome(BackupSettings&)> saveAll;
    // For a close while a run waits: lets the run clean up at once.
    std::function<void()> finishRunNow;
    // A whole number from 1 to 100 for the occasional home-page visit.
    std::function<int()> drawPercent;
    // Starts a command line with the given show state, without waiting.
    std::function<void(const std::wstring& commandLine, int show)> startCommand;
    std::function<std::wstring(HWND owner, const std::wstring& title, const std::wstring& start)> browseForFolder;
    std::function<void()> addToStartup;
    std::function<void()> removeFromStartup;
    // Ends the process at once.  A test's stand-in returns, and the caller
    // then returns without running anything else.
    std::function<void(UINT exitCode)> endProcess;
    // Name of the mutex that tells a second instance of the same user apart.
    std::wstring instanceName;
};

// The services given, the real thing for each one left empty.
Form1Services WithRealServices(Form1Services services);

// The runtime's random draw: seeded from the seconds since midnight, the
// whole part of a uniform fraction times 100, plus 1.
int DrawPercent();
// CreateProcess of a command line, show state from STARTUPINFO; no wait.
void StartCommand(const std::wstring& commandLine, int show);
// "Local\" mutex name unique to the user (session-local by the prefix).
std::wstring DefaultInstanceName();
