#pragma once
// Form1: the program's one window.  It holds every user choice in its
// controls, saves each the moment it changes, counts down to the next
// backup, keeps the history log and hides into the notification area.
#include "common/Handle.h"
#include "mainwindow/Skin.h"
#include "engine/SaveWord.h"
#include "engine/WordEvents.h"
#include "mainwindow/ControlIds.h"
#include "mainwindow/Controls.h"
#include "mainwindow/Form1Services.h"
#include "shell/cSysTray.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class BackupsWindow;

class Form1 final : public RunHost, public WordEventsHandler, public SkinnableWindow {
public:
    // Without services of a test's, the real ones.
    explicit Form1(std::unique_ptr<Form1Services> services = nullptr);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window and its controls in their design state, hidden.
    // Form_Load then does the start-up.
    void Create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }
    // The program's window ends the message loop when destroyed; a test's
    // window does not.
    void SetQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

    // ---- controls, in the design order --------------------------------------
    PushButton PushButton4;
    Frame Frame2;
    ProgressBar ProgressBar1;
    Frame Frame1;
    OptionButton Option1;
    TextBox Text1;
    PushButton PushButton1;
    OptionButton Option2;
    Frame Frame3;
    OptionButton Option3;
    OptionButton Option4;
    CheckBox Check5;
    CheckBox Check8;
    CheckBox Check9;
    CheckBox Check10;
    CheckBox Check11;
    CheckBox Check12;
    Label Label1;
    ComboBox Combo1;
    ListView ListView1;
    PushButton PushButton2;
    PushButton PushButton3;
    PushButton PushButton5;
    PushButton PushButton11;
    PushButton PushButton12;
    PushButton PushButton13;
    Timer Timer1;
    std::unique_ptr<cSysTray> cSysTray1;
    Dispatch SkinFramework1;

    // ---- state shared with the engine and the handlers -------------------------
    long IntervalSeconds = 0;
    long ElapsedSeconds = 0;
    bool LoadComplete = false;
    // True while the window is hidden in the tray.
    bool MinimizedToTray = false;
    std::wstring DocExtensionValue;
    std::wstring HistoryFileValue;

    // The window's mouse pointer.  Custom is the hand cursor that start-up
    // loaded (no special shape without one); Hourglass while a backup runs.
    enum class Pointer { Default, Custom, Hourglass };
    Pointer MousePointer = Pointer::Default;
    HCURSOR MouseIcon() const { return handCursor_.get(); }

    // ---- start-up (Form1Startup.cpp) ------------------------------------------
    void Form_Load();

    // ---- scheduler (Form1Scheduler.cpp) ----------------------------------------
    void Timer1_Timer();
    void PushButton4_Click();
    void PushButton2_Click();
    // True while a backup run started by this window is under way.
    bool BackupRunning() const { return runDepth_ > 0; }

    // ---- history (Form1History.cpp) --------------------------------------------
    void PushButton3_Click();
    void PushButton5_Click();
    void PushButton12_Click();
    // "Open a Backup...": the Backups window, made once and brought to the front.
    void PushButton13_Click();
    // For the message loop: the Backups window's keys.
    bool BackupsDialogMessage(MSG& msg);

    // ---- options (Form1Options.cpp) --------------------------------------------
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Text1_Change();
    void Text1_GotFocus();
    void PushButton1_Click();
    void PushButton11_Click();
    void ListView1_Click();
    void Check5_Click();
    void Check8_Click();
    void Check9_Click();
    void Check10_Click();
    void Check11_Click();
    void Check12_Click();
    void Combo1_Change();

    // ---- lifecycle (Form1Lifecycle.cpp) ----------------------------------------
    void Form_Resize();
    void cSysTray1_MouseUp(short Button, long Id);
    void Form_QueryUnload();
    void Form_Unload();
    // The one way the window closes: the close box, WM_CLOSE from anywhere,
    // log-off and shut-down.
    void CloseNow();

    // ---- the pointer (Form1.cpp) -----------------------------------------------
    // The mouse-move handlers of the window, the frames, Text1, ListView1 and
    // the seven push buttons: one rule, keyed by the control under the mouse
    // (0 for the window background).
    void MouseMoveOver(int controlId);

    // ---- the backup run ---------------------------------------------------------------
    // The options as the controls hold them now, for a run that starts.
    BackupOptions Options() const;
    std::wstring AskForFolder(const std::wstring& prompt) override {
        return services_->BrowseForFolder(hwnd_, prompt, L"");
    }
    void BackupNoted(RunNote note) override { notesTold_.push_back(note); }
    void BackupStarted() override;
    void BackupEnded() override;
    void BackupSaved(const SavedBackup& backup) override;
    void DocumentsClosedUnsaved(const std::vector<ClosedDocument>& closed) override;
    void WordFound(const FoundWord& word) override;

    // ---- the last moment (Form1LastMoment.cpp) -----------------------------------------
    // Inside Word's close: one more backup of a changed document.
    void DocumentClosing(const ListenedWord& word, const Dispatch& document) override;
    void WordQuitting(const ListenedWord& word) override;
    // Before the session ends or the machine sleeps: every changed document
    // of every Word listened to, answered within the bound.
    void BackUpBeforeLeaving(std::chrono::milliseconds bound);
    // True while such a backup still works (on a thread of its own).
    bool LastMomentUnderWay() const;
    // The balloon that told of them was clicked: the Backups window opens at
    // the (first) document's newest backup.
    void cSysTray1_BalloonClick();

    // ---- SkinnableWindow --------------------------------------------------------------
    HWND handle() const override { return hwnd_; }
    void setBackColor(COLORREF color) override;
    int controlCount() const override;
    ControlKind controlKind(int index) const override;
    void setControlBackColor(int index, COLORREF color) override;
    Dispatch skinFramework() override { return SkinFramework1; }

    COLORREF BackColor() const { return backColor_; }
    COLORREF ControlBackColor(int id) const;
    Control* ControlById(int id);

private:
    // A test-button click that came in a message sent by another thread, run
    // once that send is over.
    static constexpr UINT kTestButtonLater = WM_APP + 1;
    // Failures of a backup inside Word's close, shown once it has returned.
    static constexpr UINT kShowHeldReports = WM_APP + 2;
    void ShowHeldReports();
    void ShowLater(std::vector<std::wstring> reports);
    std::vector<std::wstring> heldReports_;
    // Documents taken inside Word's close, written once it has returned and
    // no run is under way (each run's end drains them).
    static constexpr UINT kWriteTaken = WM_APP + 3;
    void WriteTaken();
    void BackUpInsideTheClose(const ListenedWord& word, const Dispatch& document, const BackupOptions& options);
    std::vector<std::shared_ptr<TakenDocument>> taken_;
    // Windows waits 5 s for the answer at the end of a session and 2 s
    // before sleep; the backups end a little before.
    static constexpr std::chrono::milliseconds kSessionEndBound{4000}, kSleepBound{1400};

    // Form1Startup.cpp: the steps of Form_Load, its guard's numbering kept.
    void SetWindowIcons();
    void RestoreLocationAndInterval(Guard& guard);
    void RestoreBackupChoices(Guard& guard);
    void RestoreStartOptions(Guard& guard);
    void LoadHandCursor(Guard& guard);
    // Form1.cpp: creation, layout and the window procedure.
    void CreateControls();
    void Layout(UINT dpi);
    void CenterOnScreen();
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    static void ReportFailuresOf(const wchar_t* handler, const std::function<void()>& body);
    void OnCommand(int id, UINT code);
    LRESULT OnNotify(const NMHDR& header);
    void OnTimer(UINT_PTR id);
    void OnEraseBackground(HDC dc);
    HBRUSH OnCtlColor(HDC dc, HWND control);
    bool OnSetCursor(HWND over, UINT hitTest);
    void OnDpiChanged(UINT dpi, const RECT* suggested);
    void OnDestroy();
    // Form1Scheduler.cpp
    void RunBackup();
    void ShowRunOutcome(RunOutcome outcome);
    bool CursorOverWindow() const;
    void ShowStatus(const std::wstring& text);
    // Form1Lifecycle.cpp
    void OnActivate(bool active);
    void OnTaskbarCreated();
    void EndProcess(UINT code);
    void ListenForInstaller();

    std::unique_ptr<Form1Services> services_;
    UseServices useServices_;
    BackupRun run_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    UniqueHandle instanceMutex_;
    // The installer's request to close (kCloseEventPrefix) and its wait.
    UniqueHandle closeEvent_;
    HANDLE closeWait_ = nullptr;
    UniqueFont font_, buttonFont_;
    UniqueBrush backBrush_;
    COLORREF backColor_ = RGB(255, 255, 255);
    std::vector<std::pair<int, COLORREF>> controlBackColors_;
    UniqueIcon bigIcon_, smallIcon_, trayIcon_;
    UniqueCursor handCursor_;
    HWND lastFocus_ = nullptr;
    int runDepth_ = 0;
    int busyDepth_ = 0;
    Pointer pointerBeforeRun_ = Pointer::Default;
    // Frame2's status text, and whether the last run that reached Word found
    // it busy past the retry bound (said after the status until a run works).
    std::wstring status_;
    std::unique_ptr<BackupsWindow> backups_;
    void ShowBackupsWindow(const std::wstring& atBackup = {});
    std::wstring balloonBackup_;  // the backup a click on the balloon shown opens at; empty for none
    std::wstring historyCopy_;  // the text the last copy of the history put on the clipboard
    bool wordDidNotAnswer_ = false;
    // What the runs under way have noted, and the notes of the last run that
    // went through the documents (the first of them said like a busy Word).
    std::vector<RunNote> notesTold_;
    std::vector<RunNote> lastNotes_;
    int lastSelected_ = -1;
    bool shownOnce_ = false;
    bool closing_ = false;
    bool quitOnDestroy_ = false;
    // The Words whose events come here; none while the option is off.
    std::unique_ptr<WordListeners> listeners_;
    struct LastMomentJob;
    std::shared_ptr<LastMomentJob> lastMoment_;  // the session-end backup that may outlive its answer
    UniqueHandle lastMomentThread_;
};

