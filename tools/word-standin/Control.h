#pragma once
// What tests switch on from outside: the registry key of Protocol.h, read
// afresh at every call (COM starts instances with its own environment, and
// tests change the switches while a run goes on), and the call log.
#include <string>
#include <vector>

// "user" for the instance started by hand, "created" for one that COM
// started; set once at start-up.
void SetRole(const wchar_t* role);
const wchar_t* Role();

std::wstring AppNameSetting();
std::wstring VersionSetting();

enum class FaultAction { Fail, Slow, Linger, Busy, Reject, RetryLater, Die, Open, Close, Gone, Hang };

struct FiredFault {
    FaultAction action;
    std::wstring description;
    long number = 0;
    unsigned milliseconds = 0;
    unsigned perMegabyte = 0;  // slow: this much more per megabyte the member works through
    unsigned exitCode = 0;
    std::wstring file;  // open: what the user opens into this instance; close: the document the user closes
};

// Stage of an incoming call: the message filter sees the raw IDispatch
// method (only reject and retrylater act there), Invoke sees the member.
// A message to a document window ("Window.WM_GETOBJECT") meets only the
// faults that name it.
enum class FaultStage { Filter, Invoke, Window };

// Counts the call against every fault that matches it (member, role,
// document, process) and returns those whose window of calls it falls into.
std::vector<FiredFault> FaultsFor(FaultStage stage, const std::wstring& member, const std::wstring& document);

// One line in the call log, if one is configured.
void LogCall(const std::wstring& member, const std::wstring& args, long long microseconds,
             const std::wstring& outcome);

// Escapes a text for one log field: no tabs or line breaks survive.
std::wstring LogEscape(const std::wstring& text);
