// The countdown: Timer1_Timer driven tick by tick, the switch and the test
// button.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Text.h"
#include "support/Thread.h"


namespace {
const std::wstring kCountdown = L"On. Next backup save will occur in ";
}

TEST_F(FormTest, DefaultIntervalCountsDownAndBacksUpEvery300Ticks) {
    Form1& f = Load();
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:04:59");
    EXPECT_EQ(f.ProgressBar1.max(), 300);
    EXPECT_EQ(f.ProgressBar1.value(), 1);
    for (int tick = 2; tick < 300; ++tick) f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:01");
    EXPECT_EQ(rec.saveAllCalls, 0);
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:00");
    EXPECT_EQ(f.ProgressBar1.value(), 300);
    EXPECT_EQ(rec.saveAllCalls, 1);
    EXPECT_EQ(f.ElapsedSeconds, 0);
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:04:59");
    for (int tick = 0; tick < 299; ++tick) f.Timer1_Timer();
    EXPECT_EQ(rec.saveAllCalls, 2);
    EXPECT_TRUE(rec.boxes.empty());
}

TEST_F(FormTest, ListClickRestartsTheCountdownWithTheNewInterval) {
    Form1& f = Load();
    for (int i = 0; i < 40; ++i) f.Timer1_Timer();
    f.ListView1.select(9);
    f.ListView1_Click();
    EXPECT_EQ(SettingsSnapshot::Texts()[L"OftenIndex"], L"10");
    EXPECT_EQ(f.IntervalSeconds, 86400);
    EXPECT_EQ(f.ElapsedSeconds, 0);
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"23:59:59");
    // The item that is already selected restarts from the full interval too.
    for (int i = 0; i < 5; ++i) f.Timer1_Timer();
    f.ListView1_Click();
    EXPECT_EQ(f.ElapsedSeconds, 0);
}

TEST_F(FormTest, SwitchStopsAndResumesWhereTheCountStood) {
    Form1& f = Load();
    for (int i = 0; i < 110; ++i) f.Timer1_Timer();  // shows 00:03:10
    SendMessageW(f.PushButton4.hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(f.PushButton4.caption(), L"Turn On Backup Save");
    EXPECT_EQ(f.Frame2.caption(), L"Auto Save is Off.");
    EXPECT_FALSE(f.Timer1.running());
    EXPECT_EQ(f.Timer1.interval(), 0u);
    EXPECT_EQ(SettingsSnapshot::Texts()[L"BackupSwitch"], L"Off");
    SendMessageW(f.PushButton4.hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(f.PushButton4.caption(), L"Turn Off Backup Save");
    EXPECT_TRUE(f.Timer1.running());
    EXPECT_EQ(SettingsSnapshot::Texts()[L"BackupSwitch"], L"On");
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:03:09");

    // The next start shows the stored "Off".
    SendMessageW(f.PushButton4.hwnd(), BM_CLICK, 0, 0);
    form.reset();
    Form1& again = Load();
    EXPECT_EQ(again.Frame2.caption(), L"Auto Save is Turned Off.");
    EXPECT_EQ(again.PushButton4.caption(), L"Turn On Backup Save");
}

TEST_F(FormTest, TestButtonRunsABackupAndLeavesTheCountdown) {
    FormServices s = Services();
    Form1::Pointer before = Form1::Pointer::Hourglass, during = Form1::Pointer::Default;
    bool inSentMessage = true;
    s.saveAll = [&](const BackupOptions& options, RunHost& host) {
        ++rec.saveAllCalls;
        inSentMessage = InSendMessage();
        // The hourglass only while the run really backs up.
        before = form->MousePointer;
        host.BackupStarted();
        during = form->MousePointer;
        host.BackupEnded();
        // The run gets the options the controls hold.
        EXPECT_TRUE(options.saveToFixedFolder);
        EXPECT_FALSE(options.saveBesideDocuments);
        EXPECT_EQ(options.fixedFolder, form->Text1.text());
        EXPECT_TRUE(options.createNewFile);
        EXPECT_EQ(options.docExtension, L".docx");
        EXPECT_EQ(options.owner, form->hwnd());
        return RunOutcome::Done;
    };
    Form1& f = Load(s);
    for (int i = 0; i < 7; ++i) f.Timer1_Timer();
    SendMessageW(f.PushButton2.hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(rec.saveAllCalls, 1);
    EXPECT_EQ(before, Form1::Pointer::Default) << "no hourglass for a run that finds no Word";
    EXPECT_EQ(during, Form1::Pointer::Hourglass);
    EXPECT_EQ(f.MousePointer, Form1::Pointer::Default);
    EXPECT_EQ(f.ElapsedSeconds, 7);
    // A click sent by another thread (another program's BM_CLICK) backs up
    // only once that send has returned: COM calls out of it would be refused.
    Thread other([&] { SendMessageW(f.PushButton2.hwnd(), BM_CLICK, 0, 0); });
    for (int i = 0; i < 300 && rec.saveAllCalls < 2; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    other.join();
    EXPECT_EQ(rec.saveAllCalls, 2);
    EXPECT_FALSE(inSentMessage);
    f.Option4.setValue(true);
    SendMessageW(f.Option2.hwnd(), BM_CLICK, 0, 0);
    bool readBack = false;
    form.reset();
    s.saveAll = [&](const BackupOptions& options, RunHost&) {
        readBack = options.saveBesideDocuments && !options.createNewFile;
        return RunOutcome::Done;
    };
    Load(s).PushButton2_Click();
    EXPECT_TRUE(readBack) << "the stored choices come back and the run sees them";
}

TEST_F(FormTest, ACountPastTheIntervalBacksUpAtOnce) {
    Form1& f = Load();
    for (int i = 0; i < 100; ++i) f.Timer1_Timer();
    // The keyboard moves the selection: no click, the count stays.
    f.ListView1.select(0);
    f.Timer1_Timer();
    EXPECT_EQ(rec.saveAllCalls, 1);
    EXPECT_EQ(f.ElapsedSeconds, 0);
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:00");
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:29");
}

TEST_F(FormTest, TicksDuringARunStartNoSecondRun) {
    FormServices s = Services();
    int depth = 0, deepest = 0;
    s.saveAll = [&](const BackupOptions&, RunHost&) {
        ++rec.saveAllCalls;
        deepest = std::max(deepest, ++depth);
        // The run waits for the clipboard, and ticks arrive meanwhile.
        for (int i = 0; i < 5; ++i) form->Timer1_Timer();
        --depth;
        return RunOutcome::Done;
    };
    Form1& f = Load(s);
    f.ListView1.select(0);
    f.ListView1_Click();
    for (int i = 0; i < 30; ++i) f.Timer1_Timer();
    EXPECT_EQ(rec.saveAllCalls, 1);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(f.ElapsedSeconds, 0);

    // Due while the test button's run is under way: the automatic backup
    // follows at the first tick after it.
    for (int i = 0; i < 27; ++i) f.Timer1_Timer();
    f.PushButton2_Click();  // ticks 28 to 32 inside
    EXPECT_EQ(rec.saveAllCalls, 2);
    EXPECT_EQ(f.ElapsedSeconds, 32);
    f.Timer1_Timer();
    EXPECT_EQ(rec.saveAllCalls, 3);
    EXPECT_EQ(f.ElapsedSeconds, 0);
}

TEST_F(FormTest, ABackupDueDuringStartUpWaitsForItsEnd) {
    FormServices s = Services();
    std::wstring extension;
    s.saveAll = [&](const BackupOptions& options, RunHost&) {
        ++rec.saveAllCalls;
        extension = options.docExtension;
        return RunOutcome::Done;
    };
    // Word takes 31 ticks to answer: the countdown runs inside the check,
    // and the window, brought back from the tray, takes clicks.
    s.checkWordAvailable = [&] {
        form->ListView1.select(0);
        for (int i = 0; i < 31; ++i) form->Timer1_Timer();
        SendMessageW(form->PushButton2.hwnd(), BM_CLICK, 0, 0);
        EXPECT_EQ(rec.saveAllCalls, 0);
        EXPECT_EQ(form->Frame2.caption(), kCountdown + L"00:00:00");
        return true;
    };
    Form1& f = Load(s);
    EXPECT_EQ(rec.saveAllCalls, 0) << "the click before the end of start-up was not kept";
    f.Timer1_Timer();
    EXPECT_EQ(rec.saveAllCalls, 1);
    EXPECT_EQ(extension, L".docx");
    EXPECT_EQ(f.ElapsedSeconds, 0);
    SendMessageW(f.PushButton2.hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(rec.saveAllCalls, 2);
}

TEST_F(FormTest, ABusyWordAndWhatARunLeftOutAreSaidInTheStatusUntilARunGetsThrough) {
    FormServices s = Services();
    RunOutcome next = RunOutcome::Done;
    std::vector<RunNote> told;
    s.saveAll = [&](const BackupOptions&, RunHost& host) {
        for (RunNote n : told) host.BackupNoted(n);
        return ++rec.saveAllCalls, next;
    };
    Form1& f = Load(s);
    f.ListView1.select(0);
    f.ListView1_Click();
    const std::wstring note = L" (last skipped: Word did not answer)";
    const std::wstring space = L" (last skipped: not enough disk space)",
                       refused = L" (last skipped: folder refused writing)",
                       rights = L" (last skipped: rights-managed document)",
                       password = L" (last skipped: password-protected)",
                       web = L" (online document backed up to location)";
    using enum RunNote;
    struct Step {
        RunOutcome outcome;
        std::vector<RunNote> told;  // by the run
        std::wstring note;          // the one said: the first in precedence
    } steps[] = {
        {RunOutcome::WordDidNotAnswer, {}, note}, {RunOutcome::AlreadyRunning, {}, note}, {RunOutcome::Done, {}, L""},
        {RunOutcome::WordDidNotAnswer, {}, note}, {RunOutcome::NoWord, {}, L""},
        {RunOutcome::Done, {NotEnoughSpace}, space}, {RunOutcome::NoWord, {}, space},
        {RunOutcome::WordDidNotAnswer, {}, note}, {RunOutcome::Done, {NotEnoughSpace, WordDidNotAnswer}, note},
        {RunOutcome::Done, {WebDocumentInLocation, PasswordProtected, FolderRefusedWriting}, refused},
        {RunOutcome::Done, {WebDocumentInLocation, RightsManaged}, rights},
        {RunOutcome::Done, {PasswordProtected, WebDocumentInLocation}, password},
        {RunOutcome::Done, {WebDocumentInLocation}, web}, {RunOutcome::Done, {}, L""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(static_cast<int>(&step - steps));
        next = step.outcome;
        told = step.told;
        const int calls = rec.saveAllCalls;
        for (int i = 0; i < 30 && rec.saveAllCalls == calls; ++i) f.Timer1_Timer();
        EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:00" + step.note);
        f.Timer1_Timer();
        EXPECT_EQ(f.Frame2.caption(), kCountdown + L"00:00:29" + step.note)
            << "the countdown goes on in front of the note";
    }
    EXPECT_EQ(rec.saveAllCalls, 14);
    EXPECT_TRUE(rec.boxes.empty()) << "Word is busy because the user is in one of its dialogs: no box";

    // Also after the switch's own text; and it fits the frame in its font.
    next = RunOutcome::WordDidNotAnswer;
    SendMessageW(f.PushButton4.hwnd(), BM_CLICK, 0, 0);
    f.PushButton2_Click();
    EXPECT_EQ(f.Frame2.caption(), L"Auto Save is Off." + note);
    HDC dc = GetDC(f.Frame2.hwnd());
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(f.Frame2.hwnd(), WM_GETFONT, 0, 0)));
    RECT frame;
    GetClientRect(f.Frame2.hwnd(), &frame);
    for (const std::wstring& said : {note, space, refused, rights, password, web}) {
        const std::wstring longest = kCountdown + L"00:00:00" + said;
        SIZE text{};
        GetTextExtentPoint32W(dc, longest.c_str(), static_cast<int>(longest.size()), &text);
        EXPECT_LT(text.cx, frame.right - MulDiv(20, static_cast<int>(DpiOf(f.hwnd())), 96))
            << "room for the frame's margins: " << ToUtf8(said);
    }
    ReleaseDC(f.Frame2.hwnd(), dc);
}

TEST_F(FormTest, NoSelectedIntervalShowsWhyNothingCounts) {
    SaveSetting(L"OftenIndex", L"x");
    Form1& f = Load();
    rec.boxes.clear();
    for (int i = 0; i < 3; ++i) f.Timer1_Timer();
    EXPECT_EQ(f.Frame2.caption(), L"On. Please choose how often to back up in the list below.");
    EXPECT_EQ(f.ElapsedSeconds, 0);
    EXPECT_EQ(rec.saveAllCalls, 0);
    EXPECT_TRUE(rec.boxes.empty()) << "no error box every second";
    // A click beside the items keeps the chosen interval.
    f.ListView1.select(4);
    f.ListView1_Click();
    f.ListView1.select(-1);
    f.ListView1_Click();
    EXPECT_EQ(f.ListView1.selectedIndex(), 4);
    EXPECT_EQ(SettingsSnapshot::Texts()[L"OftenIndex"], L"5");
}

TEST_F(FormTest, RealTimerTicksThroughTheMessageLoop) {
    LetTheRealTimerTick();
    Form1& f = Load();
    // Bounded wait for the first WM_TIMER.
    for (int i = 0; i < 200 && f.ElapsedSeconds == 0; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    EXPECT_GE(f.ElapsedSeconds, 1);
    EXPECT_EQ(f.Frame2.caption().rfind(kCountdown, 0), 0u);
}
