#pragma once
// Another thread asks a window for nothing (WM_NULL) every 10 ms while its
// own thread works, and keeps the longest wait for an answer.
#include "Milliseconds.h"
#include "support/Thread.h"

#include <algorithm>
#include <atomic>

struct Asker {
    explicit Asker(HWND hwnd)
        : thread([this, hwnd] {
              while (!done) {
                  const auto asked = MonotonicClock::now();
                  DWORD_PTR result = 0;
                  SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
                  longest = std::max(longest.load(), Since(asked));
                  Sleep(10);
              }
          }) {}
    ~Asker() {
        done = true;
        thread.join();
    }
    std::atomic<bool> done{false};
    std::atomic<double> longest{0};
    Thread thread;
};
