#pragma once
// Per-user registration as "Word.Application" (HKCU\Software\Classes), so
// that neither an administrator nor a machine-wide Word is needed.
bool RegisterServer();
// Removes our class, and the ProgID only while it still points to us: a real
// Word registered for the user keeps its own.
bool UnregisterServer();
