#include "common/WorkerThread.h"

#include <process.h>

#include <memory>

namespace {

unsigned __stdcall Run(void* held) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(held));
    try {
        (*work)();
    } catch (...) {
    }
    return 0;
}

}  // namespace

UniqueHandle StartWorkerThread(std::function<void()> work) {
    auto held = std::make_unique<std::function<void()>>(std::move(work));
    UniqueHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, held.get(), 0, nullptr)));
    if (thread) held.release();
    return thread;
}
