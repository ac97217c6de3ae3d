#include "Remote.h"

#include "common/Failure.h"
#include "StandIn.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cwctype>
#include <stdexcept>
#include <thread>
#include <utility>

namespace remote {

namespace {

constexpr UINT kSendTimeout = 5000;

std::runtime_error Error(const std::string& what) {
    return std::runtime_error(what + " (error " + std::to_string(GetLastError()) + ")");
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, UINT timeout = kSendTimeout) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeout, &result)) return 0;
    return static_cast<LRESULT>(result);
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The environment block of this process with the changes applied; names
// compare without case, as Windows does.
std::wstring EnvironmentBlock(const Environment& changes) {
    std::vector<std::pair<std::wstring, std::wstring>> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring entry = p;
            size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
            if (eq == std::wstring::npos) continue;
            vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(vars, [&](const auto& v) { return EqualNoCase(v.first, name); });
        if (value) vars.emplace_back(name, *value);
    }
    std::wstring out;
    for (const auto& [name, value] : vars) out += name + L'=' + value + L'\0';
    out += L'\0';
    return out;
}

std::wstring Quote(const std::wstring& text) { return L'"' + text + L'"'; }

}  // namespace

bool WaitFor(const std::function<bool()>& ready, Millis limit, Millis step) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= end) return ready();
        std::this_thread::sleep_for(step);
    }
}

void Sleep(Millis time) { std::this_thread::sleep_for(time); }

// ---- Processes ----------------------------------------------------------------

Process Process::Start(const std::wstring& exe, const std::wstring& arguments, const Environment& environment,
                       const std::wstring& folder) {
    std::wstring commandLine = Quote(exe);
    if (!arguments.empty()) commandLine += L' ' + arguments;
    std::wstring block = EnvironmentBlock(environment);
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        block.data(), folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        throw Error("CreateProcess " + Narrow(exe));
    CloseHandle(pi.hThread);
    Process p;
    p.handle_ = pi.hProcess;
    p.pid_ = pi.dwProcessId;
    return p;
}

Process Process::Open(DWORD pid) {
    Process p;
    p.handle_ = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (p.handle_) p.pid_ = pid;
    return p;
}

Process::Process(Process&& o) noexcept : handle_(std::exchange(o.handle_, nullptr)), pid_(std::exchange(o.pid_, 0)) {}

Process& Process::operator=(Process&& o) noexcept {
    if (this != &o) {
        Kill();
        handle_ = std::exchange(o.handle_, nullptr);
        pid_ = std::exchange(o.pid_, 0);
    }
    return *this;
}

Process::~Process() { Kill(); }

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }

bool Process::WaitExit(Millis limit) const {
    return handle_ && WaitForSingleObject(handle_, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (handle_) GetExitCodeProcess(handle_, &code);
    return code;
}

void Process::Kill() {
    if (!handle_) return;
    if (Running()) {
        TerminateProcess(handle_, 1);
        WaitForSingleObject(handle_, 15000);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    pid_ = 0;
}

// ---- Windows ------------------------------------------------------------------

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* cls, const wchar_t* caption) {
    struct Query {
        DWORD pid;
        const wchar_t* cls;
        const wchar_t* caption;
        std::vector<HWND> found;
    } q{pid, cls, caption, {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (q.pid && ProcessOf(w) != q.pid) return TRUE;
            if (q.cls && ClassOf(w) != q.cls) return TRUE;
            if (q.caption && Text(w) != q.caption) return TRUE;
            q.found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

HWND FindTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption) {
    auto all = TopLevelWindows(pid, cls, caption);
    return all.empty() ? nullptr : all.front();
}

HWND WaitTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption, Millis limit) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopLevel(pid, cls, caption)) != nullptr; }, limit);
    return found;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

HWND FindDescendant(HWND parent, int id) {
    struct Query {
        int id;
        HWND found;
    } q{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (GetDlgCtrlID(w) != q.id) return TRUE;
            q.found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

std::vector<HWND> DescendantsOfClass(HWND parent, const wchar_t* cls) {
    struct Query {
        const wchar_t* cls;
        std::vector<HWND> found;
    } q{cls, {}};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (!q.cls || ClassOf(w) == q.cls) q.found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring Text(HWND window) {
    LRESULT length = Send(window, WM_GETTEXTLENGTH);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

void SetText(HWND window, const std::wstring& text) {
    Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool Visible(HWND window) { return IsWindowVisible(window) != FALSE; }
bool Exists(HWND window) { return IsWindow(window) != FALSE; }

void Click(HWND button) { Send(button, BM_CLICK, 0, 0, 60000); }
void PostClick(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }
bool Checked(HWND button) { return Send(button, BM_GETCHECK) == BST_CHECKED; }

void PostClose(HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }
void PostMinimize(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); }

// ---- Memory in another process -----------------------------------------------

RemoteBuffer::RemoteBuffer(HWND owner, size_t size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(owner));
    if (!process_) throw Error("OpenProcess for a remote buffer");
    base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!base_) {
        CloseHandle(process_);
        throw Error("VirtualAllocEx");
    }
}

RemoteBuffer::~RemoteBuffer() {
    VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    CloseHandle(process_);
}

void RemoteBuffer::Write(const void* data, size_t size, size_t offset) {
    if (!WriteProcessMemory(process_, Ptr(offset), data, size, nullptr)) throw Error("WriteProcessMemory");
}

void RemoteBuffer::Read(void* data, size_t size, size_t offset) const {
    if (!ReadProcessMemory(process_, Ptr(offset), data, size, nullptr)) throw Error("ReadProcessMemory");
}

// ---- Common controls -----------------------------------------------------------

int ListViewCount(HWND list) { return static_cast<int>(Send(list, LVM_GETITEMCOUNT)); }

int ListViewSelected(HWND list) {
    return static_cast<int>(Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring ListViewItemText(HWND list, int item) {
    constexpr int chars = 512;
    RemoteBuffer buf(list, sizeof(LVITEMW) + chars * sizeof(wchar_t));
    LVITEMW lvi{};
    lvi.iSubItem = 0;
    lvi.cchTextMax = chars;
    lvi.pszText = static_cast<wchar_t*>(buf.Ptr(sizeof(LVITEMW)));
    buf.Write(&lvi, sizeof lvi);
    LRESULT n = Send(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(buf.Ptr()));
    std::wstring text(chars, L'\0');
    buf.Read(text.data(), chars * sizeof(wchar_t), sizeof(LVITEMW));
    text.resize(std::min<size_t>(static_cast<size_t>(n), wcsnlen(text.c_str(), chars)));
    return text;
}

std::wstring ListViewColumnText(HWND list, int column) {
    constexpr int chars = 512;
    RemoteBuffer buf(list, sizeof(LVCOLUMNW) + chars * sizeof(wchar_t));
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.cchTextMax = chars;
    col.pszText = static_cast<wchar_t*>(buf.Ptr(sizeof(LVCOLUMNW)));
    buf.Write(&col, sizeof col);
    if (!Send(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(buf.Ptr()))) return {};
    std::wstring text(chars, L'\0');
    buf.Read(text.data(), chars * sizeof(wchar_t), sizeof(LVCOLUMNW));
    text.resize(wcsnlen(text.c_str(), chars));
    return text;
}

RECT ListViewItemRect(HWND list, int item) {
    RemoteBuffer buf(list, sizeof(RECT));
    RECT r{LVIR_BOUNDS, 0, 0, 0};
    buf.Write(&r, sizeof r);
    if (!Send(list, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(buf.Ptr()))) return RECT{};
    buf.Read(&r, sizeof r);
    return r;
}

void ClickListViewItem(HWND list, int item) {
    Send(list, LVM_ENSUREVISIBLE, item, FALSE);
    RECT r = ListViewItemRect(list, item);
    // The label's left part: the centre of a wide row may lie beyond the
    // one column, where a click selects nothing.
    LPARAM at = MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
    PostMessageW(list, WM_MOUSEMOVE, 0, at);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
}

Progress ProgressOf(HWND bar) {
    return Progress{static_cast<int>(Send(bar, PBM_GETPOS)), static_cast<int>(Send(bar, PBM_GETRANGE, TRUE, 0)),
                    static_cast<int>(Send(bar, PBM_GETRANGE, FALSE, 0))};
}

// ---- Message boxes ---------------------------------------------------------------

HWND FindMessageBox(DWORD pid, const std::wstring& caption) {
    return FindTopLevel(pid, L"#32770", caption.c_str());
}

HWND WaitMessageBox(DWORD pid, const std::wstring& caption, Millis limit) {
    return WaitTopLevel(pid, L"#32770", caption.c_str(), limit);
}

std::vector<HWND> Dialogs(DWORD pid) { return TopLevelWindows(pid, L"#32770"); }

std::wstring MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? Text(text) : std::wstring{};
}

bool Answer(HWND box, int button, Millis limit) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return WaitFor([&] { return !IsWindow(box); }, limit);
}

// ---- Folder picker (SHBrowseForFolder) -----------------------------------------------

namespace {

constexpr int kPickerTreeId = 14145;

std::wstring CaretLabel(HWND tree) {
    auto item = static_cast<LPARAM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    constexpr int chars = 512;
    RemoteBuffer buf(tree, sizeof(TVITEMW) + chars * sizeof(wchar_t));
    TVITEMW tvi{};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = reinterpret_cast<HTREEITEM>(item);
    tvi.cchTextMax = chars;
    tvi.pszText = static_cast<wchar_t*>(buf.Ptr(sizeof tvi));
    buf.Write(&tvi, sizeof tvi);
    if (!Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buf.Ptr()))) return {};
    std::wstring text(chars, L'\0');
    buf.Read(text.data(), chars * sizeof(wchar_t), sizeof tvi);
    text.resize(wcsnlen(text.c_str(), chars));
    return text;
}

}  // namespace

HWND WaitFolderPicker(DWORD pid, Millis limit) {
    HWND picker = nullptr;
    WaitFor(
        [&] {
            picker = FindTopLevel(pid, L"#32770", L"Browse for Folder");
            if (!picker || !IsWindowVisible(picker)) return false;
            HWND tree = GetDlgItem(picker, kPickerTreeId);
            return tree && Send(tree, TVM_GETCOUNT) > 0;
        },
        limit);
    return picker;
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND w : DescendantsOfClass(dialog, L"Static")) texts.push_back(Text(w));
    return texts;
}

bool SelectFolder(HWND picker, const std::wstring& path, Millis limit) {
    HWND tree = GetDlgItem(picker, kPickerTreeId);
    if (!tree) return false;
    std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    RemoteBuffer buf(picker, (path.size() + 1) * sizeof(wchar_t));
    buf.Write(path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    // The answer comes from a dialog procedure and is always 0; the caret
    // item tells whether the selection took.
    return WaitFor(
        [&] {
            Send(picker, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(buf.Ptr()));
            return CaretLabel(tree) == name;
        },
        limit, 200ms);
}

// ---- Notification area -------------------------------------------------------------

std::vector<HWND> TrayIcons() {
    constexpr wchar_t kIconClass[] = L"__winex11_tray_icon";
    std::vector<HWND> icons;
    for (HWND top : TopLevelWindows(0)) {
        // Docked icons are top-level windows embedded by the X tray; the
        // stand-alone tray holds them as children.
        if (ClassOf(top) == kIconClass) icons.push_back(top);
        for (HWND child : DescendantsOfClass(top, kIconClass)) icons.push_back(child);
    }
    return icons;
}

std::wstring TrayIconTip(HWND icon) {
    // The tip's tooltip is owned by the icon's top-level window (the
    // stand-alone tray holds icons as children); its one tool is the icon.
    for (HWND tip : TopLevelWindows(ProcessOf(icon), TOOLTIPS_CLASSW)) {
        if (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) continue;
        ToolInfo tool = FirstTool(tip);
        if (tool.window == icon) return tool.text;
    }
    return {};
}

HWND FindTrayIcon(const std::wstring& tip) {
    for (HWND icon : TrayIcons())
        if (TrayIconTip(icon) == tip) return icon;
    return nullptr;
}

void ClickTrayIcon(HWND icon, bool rightButton) {
    LPARAM at = MAKELPARAM(5, 5);
    PostMessageW(icon, rightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, rightButton ? MK_RBUTTON : MK_LBUTTON, at);
    PostMessageW(icon, rightButton ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
}

void SweepDeadTrayIcons() {
    for (HWND icon : TrayIcons()) Send(icon, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
}

std::vector<HWND> Balloons() {
    std::vector<HWND> found;
    for (HWND tip : TopLevelWindows(0, TOOLTIPS_CLASSW))
        if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON)) found.push_back(tip);
    return found;
}

ToolInfo FirstTool(HWND tooltip) {
    constexpr size_t chars = 1024;
    RemoteBuffer buf(tooltip, sizeof(TTTOOLINFOW) + chars * sizeof(wchar_t));
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.lpszText = static_cast<wchar_t*>(buf.Ptr(sizeof ti));
    buf.Write(&ti, sizeof ti);
    std::wstring zeros(chars, L'\0');
    buf.Write(zeros.data(), chars * sizeof(wchar_t), sizeof ti);
    if (!Send(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(buf.Ptr()))) return {};
    buf.Read(&ti, sizeof ti);
    std::wstring text(chars, L'\0');
    buf.Read(text.data(), chars * sizeof(wchar_t), sizeof ti);
    text.resize(wcsnlen(text.c_str(), chars));
    HWND window = (ti.uFlags & TTF_IDISHWND) ? reinterpret_cast<HWND>(ti.uId) : ti.hwnd;
    return ToolInfo{window, text};
}

std::wstring TooltipText(HWND tooltip) { return FirstTool(tooltip).text; }

// ---- Clipboard --------------------------------------------------------------------

// Another process (the program in a backup run) may hold the clipboard open
// for a moment: the test support's clipboard waits for it.
std::optional<std::wstring> ClipboardText() {
    try {
        if (!TestClipboard::Has(CF_UNICODETEXT)) return std::nullopt;
        return TestClipboard::UnicodeText();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

bool SetClipboardText(const std::wstring& text) {
    try {
        TestClipboard::SetUnicodeText(text);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// ---- Registry ------------------------------------------------------------------------

namespace reg {

std::optional<std::wstring> GetString(HKEY root, const std::wstring& key, const std::wstring& name) {
    DWORD bytes = 0;
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

void SetString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    LSTATUS rc = RegSetKeyValueW(root, key.c_str(), name.c_str(), REG_SZ, value.c_str(),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) throw std::runtime_error("RegSetKeyValue " + Narrow(key) + " " + std::to_string(rc));
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    RegDeleteKeyValueW(root, key.c_str(), name.c_str());
}

void DeleteTree(HKEY root, const std::wstring& key) { RegDeleteTreeW(root, key.c_str()); }

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key) {
    std::vector<std::wstring> names;
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD chars = 16384;
        if (RegEnumValueW(k, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, chars);
    }
    RegCloseKey(k);
    return names;
}

}  // namespace reg

// ---- Files ------------------------------------------------------------------------

std::wstring WindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    using ToDos = WCHAR*(CDECL*)(const char*);
    auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos) {
        if (WCHAR* dos = toDos(Narrow(path).c_str())) {
            std::wstring result = dos;
            HeapFree(GetProcessHeap(), 0, dos);
            return result;
        }
    }
    std::wstring result = L"Z:" + path;
    for (auto& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

std::wstring EnvironmentVariable(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (!n) return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw Error("cannot open " + Narrow(path));
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got) bytes.append(chunk, got);
    CloseHandle(f);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw Error("cannot create " + Narrow(path));
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((base + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

void RemoveTree(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((base + L"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(base + name);
            } else {
                SetFileAttributesW((base + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW((base + name).c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

bool Screenshot(const std::wstring& path) {
    // Wine starts a Unix program named by its Unix path; its arguments then
    // take Unix paths too.
    std::wstring unixPath;
    using ToUnix = char*(CDECL*)(const WCHAR*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return false;
    char* u = toUnix(path.c_str());
    if (!u) return false;
    int n = MultiByteToWideChar(CP_UTF8, 0, u, -1, nullptr, 0);
    unixPath.resize(n);
    MultiByteToWideChar(CP_UTF8, 0, u, -1, unixPath.data(), n);
    unixPath.resize(wcslen(unixPath.c_str()));
    HeapFree(GetProcessHeap(), 0, u);
    // Through the shell: Wine hands a Unix program's command line over as
    // it stands only when no application name is given.
    std::wstring commandLine = L"/bin/sh -c \"import -window root '" + unixPath + L"'\"";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    // The exit code that Wine reports for a Unix process says nothing.
    WaitForSingleObject(pi.hProcess, 20000);
    CloseHandle(pi.hProcess);
    return FileExists(path);
}

}  // namespace remote
