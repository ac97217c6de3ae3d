#pragma once
// The one failure type.  It carries the description that the error report
// shows: an automation server's own text, the system's message for a Win32
// error, or the program's own text for its own runtime failures.
#include <windows.h>

#include <exception>
#include <string>

class Failure : public std::exception {
public:
    Failure(long number, std::wstring description);

    // The program's own runtime failures, with the runtime's standard texts.
    static Failure InvalidArgument();   // 5
    static Failure Overflow();          // 6
    static Failure TypeMismatch();      // 13
    static Failure ObjectNotSet();      // 91
    static Failure IndexOutOfBounds();  // 35600
    static Failure Text(std::wstring description);
    // Another program keeps the clipboard open: nothing can be copied now.
    static Failure ClipboardInUse();

    static Failure FromWin32(DWORD error);
    static Failure FromLastError() { return FromWin32(GetLastError()); }
    static Failure FromHresult(HRESULT hr);

    long number() const { return number_; }
    const std::wstring& description() const { return description_; }
    // The description in UTF-8, so that an uncaught failure says what it was.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    long number_;
    std::wstring description_;
    std::string what_;
};

// The system's message for a Win32 error or HRESULT, without the trailing
// line break; our own wording for the automation errors that the system
// describes poorly or not at all.
std::wstring SystemMessage(HRESULT hr);

// True for the failures of an automation server that has stopped or crashed:
// every later call on the same reference would fail the same way.
bool IsServerGone(const Failure& failure);

// True when the server stayed busy (a dialog of Word's is open) past the
// retry bound.
bool IsServerBusy(const Failure& failure);

// True when a call went unanswered past its bound and was cancelled.
bool IsCallTimedOut(const Failure& failure);

// The server did not answer: busy past the bound, or a call cancelled.
inline bool DidNotAnswer(const Failure& failure) { return IsServerBusy(failure) || IsCallTimedOut(failure); }

bool IsClipboardInUse(const Failure& failure);

// Turns whatever was thrown into a Failure; call only inside a catch block.
Failure CurrentFailure();

// Throws FromHresult(hr) when hr is a failure code.
inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) throw Failure::FromHresult(hr);
}
