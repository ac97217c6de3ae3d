#pragma once
// A program started by a test, as the shell would start it: its own
// command line, environment and working folder.
#include "support/Wait.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>

namespace remote {

// Variables to set (or, with an empty optional, remove) on top of this
// process's own environment.
using Environment = std::map<std::wstring, std::optional<std::wstring>>;

// A started process.  Its destructor kills it if it still runs, and waits on
// the handle: TerminateProcess only asks, and a window of a dying process can
// otherwise still be found by the next test.
class Process {
public:
    Process() = default;
    // Throws Failure when the program cannot be started.
    static Process Start(const std::wstring& exe, const std::wstring& arguments = {},
                         const Environment& environment = {}, const std::wstring& folder = {});
    // Takes over a process that someone else started (found by a window).
    static Process Open(DWORD pid);
    Process(Process&&) noexcept;
    Process& operator=(Process&&) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    DWORD Id() const { return pid_; }
    explicit operator bool() const { return handle_ != nullptr; }
    bool Running() const;
    // True when the process ended within the limit.
    bool WaitExit(Millis limit) const;
    // The exit code; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    void Kill();

private:
    HANDLE handle_ = nullptr;
    DWORD pid_ = 0;
};

}  // namespace remote
