#pragma once
// A lock of the system's own (a slim reader/writer lock, taken exclusively),
// for std::lock_guard.  The C++ runtime of this toolchain has no std::mutex:
// its threads are Windows' own.
#include <windows.h>

class SlimLock {
public:
    SlimLock() = default;
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
