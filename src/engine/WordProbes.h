#pragma once
// The Word probes: whether Word can be started, its version, and whether the
// user's Word is running.
#include <string>

inline constexpr wchar_t kWordProgId[] = L"Word.Application";

// The five-paragraph explanation shown when no Word instance can be created.
extern const wchar_t kWordUnavailableMessage[];

// Whether Word is there, without starting it when the user's Word runs or
// its class's registration names a server program that exists; otherwise
// an instance of our own is created and quit.  When none can be created it
// shows the explanation (captioned with the application title) and answers
// false; the caller then ends the program.
bool CheckWordAvailable();
// Word's version number: the running Word's Version (not waited for when it
// is busy), else the registration's (CurVer, the server's version resource),
// else a fresh instance's.  0 when none could be created or the version text
// does not convert (reported under the probe's location).
double GetWordVersion();
// True only when a running Word (the active object, or one that shows a
// document window) can be attached and calls itself "Microsoft Word"; never
// fails, never quits the user's Word.
bool IsWordRunning();
// What the running-Word probe found: a Word that stays busy past the retry
// bound (one of its dialogs is open) is not "no Word".
enum class WordState { NotRunning, Running, Busy };
WordState ProbeRunningWord();
// ".docx" above version 11, ".doc" otherwise.
std::wstring DocExtensionFor(double version);
