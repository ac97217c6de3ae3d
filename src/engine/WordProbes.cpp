#include "engine/WordProbes.h"

#include "common/Automation.h"
#include "common/Guard.h"
#include "common/Main.h"
#include "common/MessageBox.h"
#include "engine/RunState.h"
#include "engine/WordInstances.h"
#include "engine/WordRegistration.h"

#include <oleauto.h>

const wchar_t kWordUnavailableMessage[] =
    L"Error 842001. A normal instance of Word could not be created.\r\n\r\n"
    L"1. Please make sure Word is installed on this computer.\r\n\r\n"
    L"2. Please open Word normally and make sure a blank document opens immediately without any interrupting "
    L"window (such as an Word file recovery window).\r\n\r\n"
    L"3. Please make sure that when you double-click on a DOC or DOCX file that Word opens normally without any "
    L"interrupting messages.\r\n\r\n"
    L"4. All versions of Word are supported by this software except for the rare Word Starter and Student editions.";

namespace {

// Start-up never waits for a busy Word (one of its dialogs is open): the
// registry answers instead.
class NoBusyWait {
public:
    NoBusyWait() { SetBusyRetryBound(std::chrono::milliseconds(0)); }
    ~NoBusyWait() { SetBusyRetryBound(saved_); }

private:
    std::chrono::milliseconds saved_ = BusyRetryBound();
};

// A running Word of the user's, any one of them; a busy one is not waited for.
Dispatch RunningWord() {
    NoBusyWait noWait;
    Guard quiet = Guard::Quiet();
    return quiet.value(1, [] { return AnyRunningWord(); }).value_or(Dispatch());
}

// An instance start-up created can have caught a document the user opened
// meanwhile: such an instance is shown and left running, as after a run.
void QuitOwnInstance(const Dispatch& app) {
    Word instance;
    instance.app = app;
    Quit(instance);
}

}  // namespace

bool CheckWordAvailable() {
    if (RunningWord() || !ReadWordRegistration(kWordProgId).server.empty()) return true;
    // Registered without a program we can see (or not at all): only an
    // instance can tell.
    Guard quiet = Guard::Quiet();
    Dispatch word;
    quiet.step(2, [&] { word = Dispatch::Create(kWordProgId); });
    if (word) {
        quiet.step(3, [&] { QuitOwnInstance(word); });
        return true;
    }
    ShowMessageBox(GetActiveWindow(), kWordUnavailableMessage, std::nullopt, MB_OK);
    return false;
}

namespace {

// The classic runtime's locale-aware text-to-number conversion.
double ToDouble(const std::wstring& text) {
    double value = 0;
    HRESULT hr = VarR8FromStr(const_cast<wchar_t*>(text.c_str()), LOCALE_USER_DEFAULT, 0, &value);
    if (hr == DISP_E_OVERFLOW) throw Failure::Overflow();
    if (FAILED(hr)) throw Failure::TypeMismatch();
    return value;
}

// Both separators become the locale's, so "16.0" and "16,0" read as 16
// under any locale; two separators do not convert.
double VersionNumber(std::wstring text) {
    std::wstring separator = GetDecimalSeparator();
    for (wchar_t& c : text)
        if (c == L',') c = separator[0];
    for (wchar_t& c : text)
        if (c == L'.') c = separator[0];
    return ToDouble(text);
}

}  // namespace

double GetWordVersion() {
    Guard guard(L"SaveWord", L"GetWordVersion");
    // A Word of the user's answers, unless it is busy or goes away meanwhile.
    if (Dispatch running = RunningWord()) {
        NoBusyWait noWait;
        Guard quiet = Guard::Quiet();
        if (auto text = quiet.value(2, [&] { return running.get(L"Version").toText(); })) {
            double version = 0;
            guard.step(3, [&] { version = VersionNumber(*text); });
            return version;
        }
    }
    if (auto registered = ReadWordRegistration(kWordProgId).version) return *registered;
    Dispatch word;
    guard.step(1, [&] { word = Dispatch::Create(kWordProgId); });
    if (!word) return 0;
    double version = 0;
    guard.step(3, [&] { version = VersionNumber(word.get(L"Version").toText()); });
    guard.step(4, [&] { QuitOwnInstance(word); });
    return version;
}

WordState ProbeRunningWord() { return WordInstances().find(); }

bool IsWordRunning() { return ProbeRunningWord() == WordState::Running; }

std::wstring DocExtensionFor(double version) { return version > 11 ? L".docx" : L".doc"; }
