#pragma once
// The one way a worker thread is started.  The work owns what it captured
// and runs to its end on its own thread; what escapes it is swallowed there
// (nothing may end the process from a worker).
#include "common/Handle.h"

#include <functional>

// The thread's handle, to wait a bound for it or to let it go; empty when
// no thread could be started (the work is then not run, and is destroyed
// before this returns).
UniqueHandle StartWorkerThread(std::function<void()> work);
