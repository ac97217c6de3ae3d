// Form1's lifecycle: into the tray and back, activation, and the close.
#include "mainwindow/Form1.h"

#include "common/Guard.h"
#include "common/Product.h"
#include "common/Services.h"
#include "engine/BackupName.h"
#include "engine/RecoveredCopies.h"

#include <sddl.h>

#include <utility>

namespace {

constexpr wchar_t kBalloonText[] =
    L"has been minimized to the system tray.\r\n"
    L"Click the blue Orvelle icon in the notification area to bring the window back.";

}  // namespace

void Form1::Form_Resize() {
    if (!IsIconic(hwnd_) || MinimizedToTray) return;
    ShowWindow(hwnd_, SW_HIDE);
    // The window stays minimised while hidden: Windows offers no way to
    // take a hidden window out of that state without showing it (the
    // minimised style cannot be cleared), so cSysTray1_MouseUp restores it,
    // which brings it back at its normal size and place.
    MinimizedToTray = true;
    balloonBackup_.clear();  // this balloon replaces any other
    cSysTray1->ShowBalloon(kBalloonText, product::kTitle, 5, true);
}

// One balloon for the documents of one run, never a box: the user may be
// typing elsewhere.  A backup of today says its time, an older one its date.
void Form1::DocumentsClosedUnsaved(const std::vector<ClosedDocument>& closed) {
    if (closed.empty() || !Check11.value() || !cSysTray1) return;
    std::wstring text;
    if (closed.size() == 1) {
        const ClosedDocument& document = closed.front();
        const SYSTEMTIME today = LocalNow();
        const SYSTEMTIME& at = document.backupTime;
        const bool sameDay = at.wYear == today.wYear && at.wMonth == today.wMonth && at.wDay == today.wDay;
        text = L"Word closed " + document.name + L" with changes that were not saved. Its last backup is from " +
               (sameDay ? ShortTime(at) : ShortDate(at) + L" " + ShortTime(at)) + L". Click here to see it.";
    } else {
        text = L"Word closed " + std::to_wstring(closed.size()) +
               L" documents with changes that were not saved. Click here to see their backups.";
    }
    cSysTray1->ShowBalloon(text, product::kTitle, 0, false);
    balloonBackup_ = closed.front().backupPath;
}

void Form1::cSysTray1_BalloonClick() {
    if (balloonBackup_.empty()) return;  // the hand-off balloon, or one already followed
    const std::wstring backup = std::exchange(balloonBackup_, {});
    ShowBackupsWindow(backup);
}

void Form1::cSysTray1_MouseUp(short, long) {
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    // A modal box of ours disables the window; it keeps the focus then.
    if (IsWindowEnabled(hwnd_)) SetForegroundWindow(hwnd_);
    MinimizedToTray = false;
}

// A restarted shell starts with an empty notification area.  The tray
// control is gone while the window is being destroyed.
void Form1::OnTaskbarCreated() {
    if (cSysTray1) cSysTray1->OnTaskbarCreated();
}

void Form1::Form_QueryUnload() {
    Guard guard(L"Form1", L"Form_QueryUnload");
    guard.step(1, [&] { Timer1.setEnabled(false); });
    guard.step(2, [&] { cSysTray1->SetInTray(false); });
}

void Form1::CloseNow() {
    if (closing_) return;
    closing_ = true;
    // Ending the process while a run waits in a message loop of its own (the
    // clipboard wait, the folder picker, a report) would leave its Word
    // instances running and the user's clipboard not put back: the run
    // cleans up first, within its bound.  The close goes ahead regardless.
    if (BackupRunning()) Guard::Quiet().step(1, [&] { services_->FinishRunNow(run_); });
    listeners_.reset();  // Word is told we no longer listen
    WriteTaken();        // what Word's closes took does not end with the process
    ReportFailuresOf(L"Form_QueryUnload", [&] { Form_QueryUnload(); });
    Form_Unload();
}

void Form1::Form_Unload() {
    // What Word has let go of does not outlive the program.
    RemoveReleasedCopies();
    EndProcess(0);
}

// An installer that replaces or removes the program asks every running copy,
// in every session, to close: an event of this process's own in the global
// namespace (kCloseEventPrefix).  The installer runs elevated or as SYSTEM;
// the user keeps full rights, nobody else may set it.  Without the event
// (made quietly) the copy is closed only on the installer's own desktop.
void Form1::ListenForInstaller() {
    const std::wstring sid = CurrentUserSid();
    const std::wstring sddl =
        L"D:(A;;0x100002;;;SY)(A;;0x100002;;;BA)" + (sid.empty() ? std::wstring() : L"(A;;GA;;;" + sid + L")");
    UniqueLocal<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(), nullptr))
        return;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    const std::wstring name = kCloseEventPrefix + std::to_wstring(GetCurrentProcessId());
    closeEvent_.reset(CreateEventW(&attributes, TRUE, FALSE, name.c_str()));
    if (!closeEvent_) return;
    auto close = [](void* window, BOOLEAN) { PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0); };
    if (!RegisterWaitForSingleObject(&closeWait_, closeEvent_.get(), close, hwnd_, INFINITE, WT_EXECUTEONLYONCE))
        closeWait_ = nullptr;
}

void Form1::EndProcess(UINT code) { services_->EndProcess(code); }

void Form1::OnActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
        return;
    }
    if (IsIconic(hwnd_)) return;
    // Back to the control that had the focus, as a dialog does.
    HWND target = lastFocus_;
    if (!target || !IsWindow(target) || !IsChild(hwnd_, target) || !IsWindowVisible(target))
        target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (target) SetFocus(target);
}
