// The benchmark's yardstick: the least a program with Orvelle's window can
// cost.  The same controls (push buttons, group boxes, option buttons, check
// boxes, a label, a drop-down list, an edit box, a progress bar and a report
// list of ten items), the same fonts, manifest and once-a-second repaint of
// a group-box caption and the progress bar, and nothing else: no
// C++ library, no COM.  Options switch single costs on or off so that the
// benchmark can price them one by one:
//   --ole           OleInitialize first, as orvelle.exe does
//   --richedit      msftedit.dll and a rich edit beyond the client edge
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <richedit.h>

namespace {

constexpr wchar_t kClass[] = L"OrvelleBaselineWindow";

enum Kind { Push, Frame, Progress, Option, Check, Edit, List, Label, Combo, Rich };

struct Design {
    Kind kind;
    const wchar_t* caption;
    int left, top, width, height;  // twips, relative to the client area
};

// Orvelle's window, with the frames' children already offset.
constexpr Design kControls[] = {
    {Frame, L"Where would you like to backup all open MS Word documents?", 120, 1530, 7800, 1400},
    {Option, L"Save all backups to this location:", 360, 1830, 3840, 255},
    {Edit, L"C:\\Backups\\", 600, 2080, 6135, 345},
    {Push, L"...", 6840, 2085, 630, 345},
    {Option, L"Save all backups to the same folder as the open documents", 360, 2530, 6615, 255},
    {Option, L"Create new file on backup", 345, 3300, 5415, 255},
    {Option, L"Overwrite old backup file on backup", 345, 3650, 3840, 255},
    {Check, L"Load this software on Windows startup", 360, 4000, 3930, 240},
    {Check, L"Start in system tray", 360, 4350, 2580, 240},
    {Check, L"Skip documents that have not changed since their last backup", 360, 4700, 6615, 240},
    {Label, L"Keep backups for:", 360, 5070, 1900, 255},
    {Combo, L"", 2280, 5010, 4695, 1500},
    {Check, L"Copy documents through the clipboard (as for Word 2003)", 360, 5420, 6615, 240},
    {Check, L"Tell me when Word closes unsaved work", 360, 5770, 6615, 240},
    {Push, L"Turn Off Backup Save", 120, 120, 7800, 405},
    {Push, L"Backup Save Now (Test)", 120, 8130, 7800, 405},
    {Push, L"View History Log", 120, 8640, 3840, 405},
    {Push, L"Copy History To Clipboard", 4080, 8640, 3840, 405},
    {Push, L"Help", 120, 9150, 3840, 405},
    {Push, L"Clear History Log", 4080, 9150, 3840, 405},
    {Push, L"Open a Backup...", 120, 9660, 7800, 405},
    {Frame, L"Options", 120, 3000, 7800, 3105},
    {List, L"", 120, 6210, 7800, 1815},
    {Frame, L"On. Next backup save will occur in", 120, 570, 7800, 900},
    {Progress, L"", 360, 870, 7320, 405},
    {Rich, L"", 9000, 240, 4815, 3015},
};

constexpr const wchar_t* kItems[] = {
    L"Save every 30 seconds", L"Save every 1 minute", L"Save every 5 minutes", L"Save every 15 minutes",
    L"Save every 30 minutes", L"Save every hour",     L"Save every 2 hours",   L"Save every 4 hours",
    L"Save every 8 hours",    L"Save every 24 hours",
};

constexpr const wchar_t* kKeepItems[] = {
    L"Keep all backups", L"1 day", L"7 days", L"30 days",
    L"Thin out: all for 2 hours, hourly for 2 days, daily for a month, weekly after",
};

constexpr long kInterval = 86400;
HWND status, progress;
long elapsed;

int Px(int twips) { return MulDiv(twips, 96, 1440); }

HFONT ArialBold(int hundredthsOfPoint) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredthsOfPoint, 96, 7200);
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpyW(font.lfFaceName, L"Arial");
    return CreateFontIndirectW(&font);
}

void Tick() {
    ++elapsed;
    SendMessageW(progress, PBM_SETRANGE32, 0, kInterval);
    SendMessageW(progress, PBM_SETPOS, elapsed, 0);
    long left = kInterval - elapsed;
    wchar_t text[80], old[80];
    wsprintfW(text, L"On. Next backup save will occur in %02d:%02d:%02d", static_cast<int>(left / 3600),
              static_cast<int>(left / 60 % 60), static_cast<int>(left % 60));
    GetWindowTextW(status, old, 80);
    if (lstrcmpW(old, text) != 0) SetWindowTextW(status, text);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER: Tick(); return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool HasOption(const wchar_t* option) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool found = false;
    for (int i = 1; i < argc; ++i) found = found || lstrcmpiW(argv[i], option) == 0;
    LocalFree(argv);
    return found;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (HasOption(L"--ole")) OleInitialize(nullptr);
    const bool richEdit = HasOption(L"--richedit");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (richEdit) LoadLibraryW(L"msftedit.dll");

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, Px(8040), Px(10170)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HWND hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kClass, L"Baseline", style,
                                (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                                width, height, nullptr, nullptr, instance, nullptr);

    HFONT font = ArialBold(900), buttonFont = ArialBold(1125);
    HWND list = nullptr, frames[3] = {};
    int id = 1000, frameCount = 0;
    for (const Design& d : kControls) {
        const wchar_t* cls = WC_BUTTONW;
        DWORD s = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_GROUP, ex = 0;
        switch (d.kind) {
        case Push: s |= WS_TABSTOP | BS_PUSHBUTTON; break;
        case Frame: s |= BS_GROUPBOX; break;
        case Progress: cls = PROGRESS_CLASSW; break;
        case Option: s |= WS_TABSTOP | BS_RADIOBUTTON; break;
        case Check: s |= WS_TABSTOP | BS_CHECKBOX; break;
        case Edit: cls = WC_EDITW, s |= WS_TABSTOP | ES_AUTOHSCROLL, ex = WS_EX_CLIENTEDGE; break;
        case List: cls = WC_LISTVIEWW, s |= WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                   ex = WS_EX_CLIENTEDGE; break;
        case Label: cls = WC_STATICW, s &= ~WS_GROUP; break;
        case Combo: cls = WC_COMBOBOXW, s |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST; break;
        case Rich:
            if (!richEdit) continue;
            cls = MSFTEDIT_CLASS, s |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, ex = WS_EX_CLIENTEDGE;
            break;
        }
        HWND c = CreateWindowExW(ex, cls, d.caption, s, Px(d.left), Px(d.top), Px(d.width), Px(d.height), hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance, nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(d.kind == Push ? buttonFont : font), FALSE);
        if (d.kind == Frame) frames[frameCount++] = c;
        if (d.kind == Frame && d.top == 570) status = c;
        if (d.kind == Progress) progress = c;
        if (d.kind == List) list = c;
        for (const wchar_t* keep : kKeepItems)
            if (d.kind == Combo) SendMessageW(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(keep));
        if (d.kind == Combo) SendMessageW(c, CB_SETCURSEL, 0, 0);
    }
    // A new child window goes below its siblings: the frames go to the bottom
    // only once every control exists, or a frame would hide the controls
    // created after it (the progress bar among them, which then never paints).
    for (HWND frame : frames) SetWindowPos(frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                 LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH};
    column.cx = Px(6400);
    column.pszText = const_cast<wchar_t*>(L"How often would you like to backup all open MS Word documents?");
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < static_cast<int>(sizeof kItems / sizeof *kItems); ++i) {
        LVITEMW item{LVIF_TEXT};
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(kItems[i]);
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetTimer(hwnd, 1, 1000, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
