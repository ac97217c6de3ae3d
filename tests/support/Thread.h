#pragma once
// A thread for tests, as Thread is used (this toolchain's C++ runtime
// has none: its threads are Windows' own).  Unlike Thread it joins when
// destroyed, so a failed assertion cannot end the whole test program.
#include <windows.h>

#include <process.h>

#include <functional>
#include <memory>
#include <utility>

class Thread {
public:
    Thread() = default;
    template <class Work>
    explicit Thread(Work work) {
        auto* held = new std::function<void()>(std::move(work));
        handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, held, 0, nullptr));
        if (!handle_) delete held;
    }
    Thread(Thread&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Thread& operator=(Thread&& other) noexcept {
        join();
        handle_ = std::exchange(other.handle_, nullptr);
        return *this;
    }
    ~Thread() { join(); }

    void join() {  // at once when there is none
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(std::exchange(handle_, nullptr));
    }

private:
    static unsigned __stdcall Run(void* held) {
        std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(held));
        (*work)();
        return 0;
    }
    HANDLE handle_ = nullptr;
};
