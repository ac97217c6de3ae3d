#pragma once
// Waits that keep the window answering run the thread's messages between
// their sleeps.
#include <windows.h>

// Runs the thread's pending window messages once (the runtime's DoEvents).
// A WM_QUIT is left for the real message loop.
void ProcessPendingMessages();

// Waits milliseconds, running the thread's messages as they arrive: the
// pause of a retry on a thread that has windows.  On a thread without any
// it is a plain wait.
void WaitPumping(DWORD milliseconds);
