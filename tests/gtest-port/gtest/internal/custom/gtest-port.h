#pragma once
// GoogleTest's own hook for a platform's pieces, found before its empty
// one.  Its Notification is built on std::mutex, which this toolchain's C++
// runtime lacks (its threads are Windows' own): this one is an event.
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {
class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};
}  // namespace testing::internal
