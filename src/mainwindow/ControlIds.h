#pragma once
// Control identifiers of the main window.  Tests that drive the running
// program from another process find the controls by these numbers.

namespace ids {

inline constexpr int PushButton4 = 1004;   // the switch: "Turn On Backup Save" / "Turn Off Backup Save"
inline constexpr int Frame2 = 1102;        // the status frame; its caption is the countdown text
inline constexpr int ProgressBar1 = 1201;  // the countdown's progress, inside Frame2
inline constexpr int Frame1 = 1101;        // "Where would you like to backup all open MS Word documents?"
inline constexpr int Option1 = 1301;       // "Save all backups to this location:"
inline constexpr int Text1 = 1401;         // the fixed backup folder
inline constexpr int PushButton1 = 1001;   // "...": picks the fixed backup folder
inline constexpr int Option2 = 1302;       // "Save all backups to the same folder as the open documents"
inline constexpr int Frame3 = 1103;        // "Options"
inline constexpr int Option3 = 1303;       // "Create new file on backup"
inline constexpr int Option4 = 1304;       // "Overwrite old backup file on backup"
inline constexpr int Check5 = 1505;        // "Load this software on Windows startup"
inline constexpr int Check8 = 1508;        // "Start in system tray"
inline constexpr int Check9 = 1509;        // "Skip documents that have not changed since their last backup"
inline constexpr int Check10 = 1510;       // "Copy documents through the clipboard (as for Word 2003)"
inline constexpr int Check11 = 1511;       // "Tell me when Word closes unsaved work"
inline constexpr int Check12 = 1512;       // "Back up when Word closes a changed document"
inline constexpr int Label1 = 1901;        // "Keep backups for:"
inline constexpr int Combo1 = 1602;        // how long backups are kept
inline constexpr int ListView1 = 1601;     // the interval list: how often to back up
inline constexpr int PushButton2 = 1002;   // "Backup Save Now (Test)"
inline constexpr int PushButton3 = 1003;   // "View History Log"
inline constexpr int PushButton5 = 1005;   // "Copy History To Clipboard"
inline constexpr int PushButton11 = 1011;  // "Help"
inline constexpr int PushButton12 = 1012;  // "Clear History Log"
inline constexpr int PushButton13 = 1013;  // "Open a Backup..."
inline constexpr int TrayIconWindow = 1801;  // cSysTray1's own child window

}  // namespace ids

// Window class of the main window, for FindWindow from tests.
inline constexpr wchar_t kMainWindowClass[] = L"OrvelleMainWindow";
// Each running copy listens for this event, followed by its process id in
// decimal: the installer sets it to ask the copy to close, from any session
// and any desktop (its windows are out of reach of another desktop's).
inline constexpr wchar_t kCloseEventPrefix[] = L"Global\\Kelvane.Orvelle.Close.";
