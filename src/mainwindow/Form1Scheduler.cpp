// Form1's scheduler: the countdown, the backup run and the test button.
#include "mainwindow/Form1.h"

#include "common/Guard.h"
#include "common/Main.h"
#include "engine/Intervals.h"
#include "mainwindow/Form1Layout.h"
#include "mainwindow/Settings.h"

#include <algorithm>
#include <climits>

using namespace form1;

namespace {

constexpr wchar_t kCountdownText[] = L"On. Next backup save will occur in ";
// Shown instead of a countdown while no interval is chosen (after a stored
// position that could not be applied): the count stands still, visibly.
constexpr wchar_t kNoIntervalText[] = L"On. Please choose how often to back up in the list below.";
// After the status while the last run found Word not answering (busy past
// the retry bound, the user in one of its dialogs, or hung); the run's box
// said so once.  It fits the frame after a countdown in the window's font.
constexpr wchar_t kWordDidNotAnswerNote[] = L" (last skipped: Word did not answer)";
// After the status while the last run noted something, in RunNote's order;
// a box said the first three the first time.  Each fits the frame after a
// countdown.
constexpr const wchar_t* kRunNotes[] = {
    kWordDidNotAnswerNote,
    L" (last skipped: not enough disk space)",
    L" (last skipped: folder refused writing)",
    L" (last skipped: rights-managed document)",
    L" (last skipped: password-protected)",
    L" (online document backed up to location)",
};

}  // namespace

void Form1::ShowStatus(const std::wstring& text) {
    status_ = text;
    const std::wstring shown = wordDidNotAnswer_    ? text + kWordDidNotAnswerNote
                               : lastNotes_.empty() ? text
                                                    : text + kRunNotes[static_cast<size_t>(lastNotes_.front())];
    if (Frame2.caption() != shown) Frame2.setCaption(shown);
}

void Form1::RunBackup() {
    // The session-end backup still works with the run's state.
    if (LastMomentUnderWay()) return;
    ++runDepth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{runDepth_};
    const size_t toldBefore = notesTold_.size();
    const RunOutcome outcome = services_->SaveAll(run_, Options(), *this);
    // What Word's closes took meanwhile waited for this run.
    if (!taken_.empty()) PostMessageW(hwnd_, kWriteTaken, 0, 0);
    // Only a run that went through the documents knows what they met.
    if (outcome == RunOutcome::Done) {
        lastNotes_.assign(notesTold_.begin() + static_cast<std::ptrdiff_t>(toldBefore), notesTold_.end());
        std::ranges::sort(lastNotes_);
    }
    notesTold_.resize(toldBefore);
    if (listeners_) listeners_->forgetGone();
    ShowRunOutcome(outcome);
}

// A Word that stayed busy is said in the status frame until a run gets
// through; a run without any Word also clears it, since no document is then
// left without a backup.  A call that found a run under way says nothing.
void Form1::ShowRunOutcome(RunOutcome outcome) {
    if (outcome == RunOutcome::AlreadyRunning) return;
    wordDidNotAnswer_ = outcome == RunOutcome::WordDidNotAnswer;
    ShowStatus(status_);
}

// The hourglass shows while a run really backs up, not for a tick that
// finds no Word or a busy one.
void Form1::BackupStarted() {
    if (busyDepth_++ == 0) pointerBeforeRun_ = MousePointer == Pointer::Hourglass ? Pointer::Default : MousePointer;
    MousePointer = Pointer::Hourglass;
    if (CursorOverWindow()) SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void Form1::BackupEnded() {
    if (busyDepth_ == 0 || --busyDepth_ > 0) return;
    MousePointer = pointerBeforeRun_;
    if (CursorOverWindow()) {
        POINT p;
        if (GetCursorPos(&p)) SetCursorPos(p.x, p.y);  // lets WM_SETCURSOR pick the pointer again
    }
}

// The Backups window finds these folders again, spelled exactly, whatever
// the ANSI history makes of them.  A store that refuses the write costs the
// backup nothing: its history line is written.
void Form1::BackupSaved(const SavedBackup& backup) {
    const std::wstring& path = backup.path;
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) return;
    try {
        RememberBackupFolder(path.substr(0, slash));
    } catch (const Failure&) {
    }
}

bool Form1::CursorOverWindow() const {
    POINT cursor;
    if (!GetCursorPos(&cursor)) return false;
    HWND over = WindowFromPoint(cursor);
    return over && (over == hwnd_ || IsChild(hwnd_, over));
}

void Form1::Timer1_Timer() {
    Guard guard(L"Form1", L"Timer1_Timer");
    // No chosen interval: say so instead of counting towards nothing.
    std::optional<std::wstring> selected = ListView1.selectedText();
    if (!selected) {
        guard.step(1, [&] { ShowStatus(kNoIntervalText); });
        return;
    }
    guard.step(2, [&] { IntervalSeconds = GetIntervalSeconds(selected); });
    if (IntervalSeconds <= 0) {
        guard.step(3, [&] { ShowStatus(kNoIntervalText); });
        return;
    }
    guard.step(4, [&] {
        if (ElapsedSeconds < LONG_MAX) ElapsedSeconds = ElapsedSeconds + 1;
    });
    guard.step(5, [&] { ProgressBar1.setMax(IntervalSeconds); });
    if (guard.test(6, [&] { return ElapsedSeconds <= IntervalSeconds; }))
        guard.step(7, [&] { ProgressBar1.setValue(ElapsedSeconds); });
    // A count past the interval shows 00:00:00: the backup is due now.
    guard.step(8, [&] { ShowStatus(kCountdownText + SecondsToClock(std::max(0L, IntervalSeconds - ElapsedSeconds))); });
    // Due at the interval, and also past it (the list changed to a shorter
    // interval without a click, or a run was under way when it fell due), so
    // that the countdown never stands still.  A tick inside a run starts no
    // second run; the count carries on and the run is due when it ends.
    // Ticks that come while start-up waits (for Word, or in the tray
    // hand-off) count, but the backup waits until start-up has found the
    // backup extension and the history file.
    if (guard.test(9, [&] { return ElapsedSeconds >= IntervalSeconds && !BackupRunning() && LoadComplete; })) {
        guard.step(10, [&] { RunBackup(); });
        guard.step(11, [&] { ElapsedSeconds = 0; });
    }
}

void Form1::PushButton4_Click() {
    Guard guard(L"Form1", L"PushButton4_Click");
    std::wstring caption;
    guard.step(1, [&] { caption = PushButton4.caption(); });
    if (guard.test(2, [&] { return caption == kTurnOn; })) {
        guard.step(3, [&] { PushButton4.setCaption(kTurnOff); });
        guard.step(4, [&] { Timer1.setInterval(1000); });
        guard.step(5, [&] { SaveSetting(settings::kBackupSwitch, L"On"); });
    } else if (guard.test(6, [&] { return caption == kTurnOff; })) {
        guard.step(7, [&] { PushButton4.setCaption(kTurnOn); });
        guard.step(8, [&] { Timer1.setInterval(0); });
        guard.step(9, [&] { SaveSetting(settings::kBackupSwitch, L"Off"); });
        guard.step(10, [&] { ShowStatus(L"Auto Save is Off."); });
    }
}

void Form1::PushButton2_Click() {
    Guard guard(L"Form1", L"PushButton2_Click");
    // Until start-up has the backup extension and the history file, a run
    // would write backups without an extension: a click then (the window
    // brought back from the tray during the hand-off) is ignored, as the
    // timer's backup waits.
    if (!LoadComplete) return;
    // COM refuses outgoing calls while the thread handles a message that
    // another thread sent (RPC_E_CANTCALLOUT_ININPUTSYNCCALL; Wine lets them
    // through): a click that another program sent (BM_CLICK from an
    // accessibility tool) backs up once that send has returned.
    if (InSendMessage()) {
        PostMessageW(hwnd_, kTestButtonLater, 0, 0);
        return;
    }
    guard.step(1, [&] { RunBackup(); });
}
