#pragma once
// Waits that keep the window answering run the thread's messages between
// their sleeps.

// Runs the thread's pending window messages once (the runtime's DoEvents).
// A WM_QUIT is left for the real message loop.
void ProcessPendingMessages();
