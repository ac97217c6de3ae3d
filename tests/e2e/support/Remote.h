#pragma once
// Driving another process's windows from a test, the way a user or the shell
// would: start it, find its windows and controls, click, read captions,
// answer its message boxes, click its tray icon and read its balloon.
//
// Every wait is a bounded poll; nothing here asserts on how long a thing took.
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace remote {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Polls until ready() answers true or the limit has passed; answers the last
// result.  The step is short because most things under Wine happen in
// milliseconds.
bool WaitFor(const std::function<bool()>& ready, Millis limit, Millis step = 25ms);
void Sleep(Millis time);

// ---- Processes ----------------------------------------------------------------

// Variables to set (or, with an empty optional, remove) on top of this
// process's own environment.
using Environment = std::map<std::wstring, std::optional<std::wstring>>;

// A started process.  Its destructor kills it if it still runs, and waits on
// the handle: TerminateProcess only asks, and a window of a dying process can
// otherwise still be found by the next test.
class Process {
public:
    Process() = default;
    static Process Start(const std::wstring& exe, const std::wstring& arguments = {},
                         const Environment& environment = {}, const std::wstring& folder = {});
    // Takes over a process that someone else started (found by a window).
    static Process Open(DWORD pid);
    Process(Process&&) noexcept;
    Process& operator=(Process&&) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    DWORD Id() const { return pid_; }
    HANDLE Handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    bool Running() const;
    // True when the process ended within the limit.
    bool WaitExit(Millis limit) const;
    // The exit code; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    void Kill();

private:
    HANDLE handle_ = nullptr;
    DWORD pid_ = 0;
};

// ---- Windows ------------------------------------------------------------------

// Top-level windows, hidden ones included, of one process (pid 0: of every
// process) whose class is cls (null: any) and, if given, whose caption is
// exactly caption.
std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* cls = nullptr, const wchar_t* caption = nullptr);
HWND FindTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption = nullptr);
HWND WaitTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption, Millis limit);
DWORD ProcessOf(HWND window);

// The descendant with this control id, at any depth (controls may sit inside
// frames); null when there is none.
HWND FindDescendant(HWND parent, int id);
std::vector<HWND> DescendantsOfClass(HWND parent, const wchar_t* cls);

std::wstring ClassOf(HWND window);
std::wstring Text(HWND window);                       // WM_GETTEXT
void SetText(HWND window, const std::wstring& text);  // WM_SETTEXT
bool Visible(HWND window);
bool Exists(HWND window);

// BM_CLICK that returns when the owner's click handler has returned.  Use it
// only for handlers that open nothing modal.
void Click(HWND button);
// BM_CLICK posted: for handlers that open a message box or a dialog.
void PostClick(HWND button);
bool Checked(HWND button);

// Posts WM_CLOSE / WM_SYSCOMMAND SC_MINIMIZE, as the system menu would.
void PostClose(HWND window);
void PostMinimize(HWND window);

// ---- Memory in another process -----------------------------------------------

// A block of memory in the process that owns a window, for the messages whose
// parameters point at structures (list view rectangles, tooltip records).
class RemoteBuffer {
public:
    RemoteBuffer(HWND owner, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    void* Ptr(size_t offset = 0) const { return static_cast<char*>(base_) + offset; }
    void Write(const void* data, size_t size, size_t offset = 0);
    void Read(void* data, size_t size, size_t offset = 0) const;

private:
    HANDLE process_ = nullptr;
    void* base_ = nullptr;
};

// ---- Common controls -----------------------------------------------------------

int ListViewCount(HWND list);
// The first selected item, -1 when none is.
int ListViewSelected(HWND list);
std::wstring ListViewItemText(HWND list, int item);
std::wstring ListViewColumnText(HWND list, int column);
RECT ListViewItemRect(HWND list, int item);
// A user's click on the item: mouse move, button down and up at its centre.
void ClickListViewItem(HWND list, int item);

struct Progress {
    int position;
    int low;
    int high;
};
Progress ProgressOf(HWND bar);

// ---- Message boxes ---------------------------------------------------------------

// A message box (#32770) of pid with exactly this caption.
HWND FindMessageBox(DWORD pid, const std::wstring& caption);
HWND WaitMessageBox(DWORD pid, const std::wstring& caption, Millis limit);
// Any dialog of pid, whatever its caption.
std::vector<HWND> Dialogs(DWORD pid);
// The message text: the static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
// Presses the button IDOK, IDYES, IDNO ... and waits until the box is gone.
bool Answer(HWND box, int button, Millis limit = 10s);

// ---- Folder picker (SHBrowseForFolder) -----------------------------------------------

// The picker of pid once it is visible and its tree is filled: acting
// earlier loses the selection.
HWND WaitFolderPicker(DWORD pid, Millis limit);
// The static texts of a dialog (the picker's title among them).
std::vector<std::wstring> StaticTexts(HWND dialog);
// Selects path in the picker's tree (BFFM_SETSELECTIONW through a remote
// buffer), repeated until the tree's caret item carries the folder's name.
bool SelectFolder(HWND picker, const std::wstring& path, Millis limit = 10s);

// ---- Notification area -------------------------------------------------------------

// Wine's per-icon windows (class __winex11_tray_icon), docked or in the
// stand-alone tray; they belong to the desktop process, not to the program.
std::vector<HWND> TrayIcons();
// The icon's tip, read from its tooltip window.
std::wstring TrayIconTip(HWND icon);
// The icon whose tip is exactly tip; null when there is none.
HWND FindTrayIcon(const std::wstring& tip);
// Button down and up over the icon; Wine relays them to the icon's owner.
void ClickTrayIcon(HWND icon, bool rightButton = false);
// Wine keeps the icon of a process that died without removing it, until a
// mouse event for it finds the owner gone.  Sends each icon a mouse move so
// that dead ones go; live owners just see the pointer pass.
void SweepDeadTrayIcons();
// Visible balloon tooltips (TTS_BALLOON) and the text of one.
std::vector<HWND> Balloons();
std::wstring TooltipText(HWND tooltip);
// A tooltip's first tool: the window it belongs to and its text, read with
// TTM_ENUMTOOLSW through a buffer in the tooltip's process.
struct ToolInfo {
    HWND window = nullptr;
    std::wstring text;
};
ToolInfo FirstTool(HWND tooltip);

// ---- Clipboard --------------------------------------------------------------------

// The clipboard's Unicode text; nullopt when it holds none or stays locked.
std::optional<std::wstring> ClipboardText();
bool SetClipboardText(const std::wstring& text);

// ---- Registry ------------------------------------------------------------------------

namespace reg {
std::optional<std::wstring> GetString(HKEY root, const std::wstring& key, const std::wstring& name);
void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
void DeleteTree(HKEY root, const std::wstring& key);
// The names of a key's values; empty when the key is absent.
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key);
}  // namespace reg

// ---- Files ------------------------------------------------------------------------

// A Unix path (as CTest hands them over) as the Windows path Wine maps it to;
// Windows paths pass unchanged.
std::wstring WindowsPath(const std::wstring& path);
std::wstring EnvironmentVariable(const wchar_t* name);
bool FileExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// Names (not paths) of the files in folder that match pattern.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern = L"*");
void RemoveTree(const std::wstring& folder);
// The ANSI code page's bytes as wide text, and back.
std::wstring FromAnsi(const std::string& bytes);
std::string ToAnsi(const std::wstring& text);
std::string Narrow(const std::wstring& text);  // UTF-8, for test messages

// Saves a picture of the whole X screen to path (a Windows path) with
// ImageMagick's import; false when that cannot be run.
bool Screenshot(const std::wstring& path);

}  // namespace remote
