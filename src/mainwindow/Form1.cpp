#include "mainwindow/Form1.h"

#include "common/Dpi.h"
#include "common/ErrorReport.h"
#include "common/Guard.h"
#include "common/IsInstalled.h"
#include "common/Main.h"
#include "common/MessageBox.h"
#include "common/Product.h"
#include "mainwindow/Settings.h"
#include "resources/Resource.h"
#include "shell/AddFolder.h"
#include "shell/mStartUp.h"
#include "shell/mSysTray.h"

#include <richedit.h>
#include <sddl.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <random>

namespace {

constexpr UINT_PTR kTimer1Id = 1;
// A test-button click that came in a message sent by another thread, run
// once that send is over.
constexpr UINT kTestButtonLater = WM_APP + 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
constexpr int kClientWidthTwips = 8040, kClientHeightTwips = 8960;
constexpr int kColumnWidthTwips = 6400;

constexpr wchar_t kIntervalHeader[] = L"How often would you like to backup all open MS Word documents?";
constexpr wchar_t kCountdownText[] = L"On. Next backup save will occur in ";
// Shown instead of a countdown while no interval is chosen (after a stored
// position that could not be applied): the count stands still, visibly.
constexpr wchar_t kNoIntervalText[] = L"On. Please choose how often to back up in the list below.";
// After the status while the last run found Word busy past the retry bound
// (the user is in one of its dialogs): no box, which would stop the user as
// well.  It fits the frame after a countdown in the window's font.
constexpr wchar_t kWordDidNotAnswerNote[] = L" (last skipped: Word did not answer)";
constexpr wchar_t kTurnOn[] = L"Turn On Backup Save";
constexpr wchar_t kTurnOff[] = L"Turn Off Backup Save";
constexpr wchar_t kBalloonText[] =
    L"has been minimized to the system tray.\r\n"
    L"Click the blue Orvelle icon in the notification area to bring the window back.";

enum class Kind { PushButton, Frame, ProgressBar, OptionButton, TextBox, CheckBox, ListView, RichTextBox, Label, ComboBox };

struct ControlDesign {
    int id;
    Kind kind;
    const wchar_t* caption;
    Twips rect;  // relative to the frame when inside one
    int frame;   // id of the containing frame, 0 for the window
};

// The window as designed, in the design order (the order ApplySkin walks).
constexpr ControlDesign kControls[] = {
    {ids::PushButton4, Kind::PushButton, L"Turn On Backup Save", {120, 120, 7800, 405}, 0},
    {ids::Frame2, Kind::Frame, L"On. Next backup save will occur in", {120, 570, 7800, 900}, 0},
    {ids::ProgressBar1, Kind::ProgressBar, L"", {240, 300, 7320, 405}, ids::Frame2},
    {ids::Frame1, Kind::Frame, L"Where would you like to backup all open MS Word documents?",
     {120, 1530, 7800, 1400}, 0},
    {ids::Option1, Kind::OptionButton, L"Save all backups to this location:", {240, 300, 3840, 255}, ids::Frame1},
    {ids::Text1, Kind::TextBox, L"Text1", {480, 550, 6135, 345}, ids::Frame1},
    {ids::PushButton1, Kind::PushButton, L"...", {6720, 555, 630, 345}, ids::Frame1},
    {ids::Option2, Kind::OptionButton, L"Save all backups to the same folder as the open documents",
     {240, 1000, 6615, 255}, ids::Frame1},
    // The options grew by the two housekeeping choices below the others;
    // everything beneath moved down by as much (650 twips).
    {ids::Frame3, Kind::Frame, L"Options", {120, 3000, 7800, 2405}, 0},
    {ids::Option3, Kind::OptionButton, L"Create new file on backup", {225, 300, 5415, 255}, ids::Frame3},
    {ids::Option4, Kind::OptionButton, L"Overwrite old backup file on backup", {225, 650, 3840, 255}, ids::Frame3},
    {ids::Check5, Kind::CheckBox, L"Load this software on Windows startup", {240, 1000, 3930, 240}, ids::Frame3},
    {ids::Check8, Kind::CheckBox, L"Start in system tray", {240, 1350, 2580, 240}, ids::Frame3},
    {ids::Check9, Kind::CheckBox, L"Skip documents that have not changed since their last backup",
     {240, 1700, 6615, 240}, ids::Frame3},
    {ids::Label1, Kind::Label, L"Keep backups for:", {240, 2070, 1900, 255}, ids::Frame3},
    {ids::Combo1, Kind::ComboBox, L"", {2160, 2010, 2400, 315}, ids::Frame3},
    {ids::ListView1, Kind::ListView, L"", {120, 5510, 7800, 1815}, 0},
    {ids::PushButton2, Kind::PushButton, L"Backup Save Now (Test)", {120, 7430, 7800, 405}, 0},
    {ids::PushButton3, Kind::PushButton, L"View History Log", {120, 7940, 3840, 405}, 0},
    {ids::PushButton5, Kind::PushButton, L"Copy History To Clipboard", {4080, 7940, 3840, 405}, 0},
    {ids::PushButton11, Kind::PushButton, L"Help", {120, 8450, 3840, 405}, 0},
    {ids::PushButton12, Kind::PushButton, L"Clear History Log", {4080, 8450, 3840, 405}, 0},
    // Beyond the right edge of the client area: never seen.
    {ids::RichTextBox1, Kind::RichTextBox, L"", {9000, 240, 4815, 3015}, 0},
};

// Tab order.  Tab navigation follows the window order, so the controls are
// created in this order; the frames, which take no focus, then go to the
// bottom so that they never paint over the controls placed on them.
constexpr int kTabOrder[] = {
    ids::Frame1,      ids::Option1,     ids::Text1,       ids::PushButton1,  ids::Option2,
    ids::Option3,     ids::Option4,     ids::Check5,      ids::Check8,       ids::Check9,
    ids::Label1,      ids::Combo1,      ids::PushButton4,
    ids::PushButton2, ids::PushButton3, ids::PushButton5, ids::PushButton11, ids::PushButton12,
    ids::Frame3,      ids::ListView1,   ids::Frame2,      ids::ProgressBar1, ids::RichTextBox1,
};

constexpr int kPushButtons[] = {ids::PushButton1, ids::PushButton2,  ids::PushButton3, ids::PushButton4,
                                ids::PushButton5, ids::PushButton11, ids::PushButton12};
// Controls whose mouse-move handler sets the default pointer (0 = the window).
constexpr int kDefaultPointerAreas[] = {0, ids::Frame1, ids::Frame2, ids::Frame3, ids::Text1, ids::ListView1};

const ControlDesign& DesignOf(int id) {
    for (const auto& design : kControls)
        if (design.id == id) return design;
    throw Failure::InvalidArgument();
}

// The position in the "keep backups for" list of a stored number of days.
int KeepChoiceIndex(const std::wstring& days) {
    for (size_t i = 0; i < std::size(kKeepChoices); ++i)
        if (days == std::to_wstring(kKeepChoices[i].days)) return static_cast<int>(i);
    return 0;
}

bool Contains(const auto& list, int id) { return std::find(std::begin(list), std::end(list), id) != std::end(list); }

std::wstring Environ(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

HFONT CreateArialBold(int hundredthsOfPoint, UINT dpi) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredthsOfPoint, static_cast<int>(dpi), 7200);
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy_s(font.lfFaceName, L"Arial");
    return CreateFontIndirectW(&font);
}

}  // namespace

// ---- services ------------------------------------------------------------------

int DrawPercent() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::minstd_rand generator(static_cast<unsigned>(now.wHour * 3600 + now.wMinute * 60 + now.wSecond));
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    return static_cast<int>(fraction(generator) * 100) + 1;
}

void StartCommand(const std::wstring& commandLine, int show) {
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;  // CreateProcessW may write into it
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw Failure::FromLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

std::wstring DefaultInstanceName() {
    // "Local\" keeps the name inside the logon session; the user's SID keeps
    // two users of one session (run as) apart.
    std::wstring name = L"Local\\Kelvane.Orvelle.Instance";
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        UniqueHandle owned(token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buffer(size);
        wchar_t* sid = nullptr;
        if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            name += L".";
            name += sid;
            LocalFree(sid);
        }
    }
    return name;
}

// A handler without a guard of its own, run for the user or the system,
// reports a failure under its own name (step 0: it numbers no steps) rather
// than letting it cross the window procedure.
template <class F>
void Form1::Unguarded(const wchar_t* handler, F&& body) {
    try {
        body();
    } catch (...) {
        ReportError(std::wstring(L"in Quillbay2021/08/31.Form1.") + handler + L" ", 0, CurrentFailure());
    }
}

// ---- creation ------------------------------------------------------------------

Form1::Form1(Form1Services services) : services_(std::move(services)) {
    if (!services_.checkWordAvailable) services_.checkWordAvailable = [] { return CheckWordAvailable(); };
    if (!services_.getWordVersion) services_.getWordVersion = [] { return GetWordVersion(); };
    if (!services_.saveAll) services_.saveAll = [](BackupSettings& s) { return SaveAll(s); };
    if (!services_.finishRunNow) services_.finishRunNow = &FinishRunNow;
    if (!services_.drawPercent) services_.drawPercent = &DrawPercent;
    if (!services_.startCommand) services_.startCommand = &StartCommand;
    if (!services_.browseForFolder) services_.browseForFolder = &BrowseForFolder;
    if (!services_.addToStartup) services_.addToStartup = [] { AddToStartup(); };
    if (!services_.removeFromStartup) services_.removeFromStartup = [] { RemoveFromStartup(); };
    if (!services_.endProcess) services_.endProcess = [](UINT code) { ExitProcess(code); };
    if (services_.instanceName.empty()) services_.instanceName = DefaultInstanceName();
}

Form1::~Form1() {
    Timer1.setEnabled(false);
    cSysTray1.reset();  // takes the icon out of the tray
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (handCursor_) DestroyCursor(handCursor_);
    if (bigIcon_) DestroyIcon(bigIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
    if (trayIcon_) DestroyIcon(trayIcon_);
}

void Form1::Create(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // RICHEDIT50W lives in msftedit.dll, which nothing else loads.
    static HMODULE richEdit = LoadLibraryW(L"msftedit.dll");
    if (!richEdit) throw Failure::FromLastError();

    static const ATOM atom = [instance] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = &WndProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kMainWindowClass;
        return RegisterClassExW(&wc);
    }();
    if (!atom) throw Failure::FromLastError();

    // Placed on the primary monitor so that its DPI is the one we size for.
    hwnd_ = CreateWindowExW(kWindowExStyle, kMainWindowClass, L"Form1", kWindowStyle, 0, 0, 100, 100, nullptr,
                            nullptr, instance, this);
    if (!hwnd_) throw Failure::FromLastError();
    dpi_ = DpiOf(hwnd_);

    backBrush_.reset(CreateSolidBrush(backColor_));
    CreateControls();
    Layout(dpi_);

    Timer1.attach(hwnd_, kTimer1Id);
    Timer1.Tick = [this] { Timer1_Timer(); };
    Timer1.setInterval(0);

    // The tray control as designed: not in the tray, no tip, the blue icon.
    trayIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON, 16, 16, 0));
    cSysTray1 = std::make_unique<cSysTray>(hwnd_);
    SetWindowLongPtrW(cSysTray1->Window(), GWLP_ID, ids::TrayIconWindow);
    cSysTray1->SetTrayIcon(trayIcon_);
    cSysTray1->MouseUp = [this](short button, long id) {
        Unguarded(L"cSysTray1_MouseUp", [&] { cSysTray1_MouseUp(button, id); });
    };

    SkinFramework1 = CreateSkinFramework();
}

void Form1::CreateControls() {
    for (int id : kTabOrder) {
        const ControlDesign& design = DesignOf(id);
        Control* control = ControlById(id);
        const std::wstring caption = design.caption;
        switch (design.kind) {
        case Kind::PushButton:
            control->create(hwnd_, id, WC_BUTTONW, caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
            break;
        case Kind::Frame: control->create(hwnd_, id, WC_BUTTONW, caption, WS_VISIBLE | BS_GROUPBOX); break;
        case Kind::ProgressBar: control->create(hwnd_, id, PROGRESS_CLASSW, caption, WS_VISIBLE); break;
        case Kind::OptionButton:
            control->create(hwnd_, id, WC_BUTTONW, caption, WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON);
            break;
        case Kind::CheckBox:
            control->create(hwnd_, id, WC_BUTTONW, caption, WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX);
            break;
        case Kind::TextBox:
            control->create(hwnd_, id, WC_EDITW, caption, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
            break;
        case Kind::ListView:
            control->create(hwnd_, id, WC_LISTVIEWW, caption,
                            WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE);
            SendMessageW(control->hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                         LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
            break;
        case Kind::Label: control->create(hwnd_, id, WC_STATICW, caption, WS_VISIBLE | SS_LEFT); break;
        case Kind::ComboBox:
            control->create(hwnd_, id, WC_COMBOBOXW, caption, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
            break;
        case Kind::RichTextBox:
            // No tab stop: the focus would vanish into a box nobody can see.
            control->create(hwnd_, id, MSFTEDIT_CLASS, caption, WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL,
                            WS_EX_CLIENTEDGE);
            break;
        }
    }
    status_ = Frame2.caption();
    for (int frame : {ids::Frame1, ids::Frame2, ids::Frame3})
        SetWindowPos(ControlById(frame)->hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    Option1.setGroup({&Option1, &Option2});
    Option2.setGroup({&Option1, &Option2});
    Option3.setGroup({&Option3, &Option4});
    Option4.setGroup({&Option3, &Option4});

    // An event that code raised (start-up setting a stored value, a handler
    // clearing Check8) fails into the code that raised it and is reported
    // under that code's guard and step; one that the user raised is handled
    // here.
    auto wire = [this](Control& control, std::function<void()>& event, const wchar_t* name,
                       void (Form1::*handler)()) {
        event = [this, &control, name, handler] {
            if (control.raisedByCode())
                (this->*handler)();
            else
                Unguarded(name, [&] { (this->*handler)(); });
        };
    };
    wire(PushButton4, PushButton4.Click, L"PushButton4_Click", &Form1::PushButton4_Click);
    wire(PushButton2, PushButton2.Click, L"PushButton2_Click", &Form1::PushButton2_Click);
    wire(PushButton3, PushButton3.Click, L"PushButton3_Click", &Form1::PushButton3_Click);
    wire(PushButton5, PushButton5.Click, L"PushButton5_Click", &Form1::PushButton5_Click);
    wire(PushButton12, PushButton12.Click, L"PushButton12_Click", &Form1::PushButton12_Click);
    wire(PushButton1, PushButton1.Click, L"PushButton1_Click", &Form1::PushButton1_Click);
    wire(PushButton11, PushButton11.Click, L"PushButton11_Click", &Form1::PushButton11_Click);
    wire(Option1, Option1.Click, L"Option1_Click", &Form1::Option1_Click);
    wire(Option2, Option2.Click, L"Option2_Click", &Form1::Option2_Click);
    wire(Option3, Option3.Click, L"Option3_Click", &Form1::Option3_Click);
    wire(Option4, Option4.Click, L"Option4_Click", &Form1::Option4_Click);
    wire(Text1, Text1.Change, L"Text1_Change", &Form1::Text1_Change);
    wire(Text1, Text1.GotFocus, L"Text1_GotFocus", &Form1::Text1_GotFocus);
    wire(ListView1, ListView1.Click, L"ListView1_Click", &Form1::ListView1_Click);
    wire(Check5, Check5.Click, L"Check5_Click", &Form1::Check5_Click);
    wire(Check8, Check8.Click, L"Check8_Click", &Form1::Check8_Click);
    wire(Check9, Check9.Click, L"Check9_Click", &Form1::Check9_Click);
    wire(Combo1, Combo1.Change, L"Combo1_Change", &Form1::Combo1_Change);
}

Control* Form1::ControlById(int id) {
    switch (id) {
    case ids::PushButton4: return &PushButton4;
    case ids::Frame2: return &Frame2;
    case ids::ProgressBar1: return &ProgressBar1;
    case ids::Frame1: return &Frame1;
    case ids::Option1: return &Option1;
    case ids::Text1: return &Text1;
    case ids::PushButton1: return &PushButton1;
    case ids::Option2: return &Option2;
    case ids::Frame3: return &Frame3;
    case ids::Option3: return &Option3;
    case ids::Option4: return &Option4;
    case ids::Check5: return &Check5;
    case ids::Check8: return &Check8;
    case ids::Check9: return &Check9;
    case ids::Label1: return &Label1;
    case ids::Combo1: return &Combo1;
    case ids::ListView1: return &ListView1;
    case ids::PushButton2: return &PushButton2;
    case ids::PushButton3: return &PushButton3;
    case ids::PushButton5: return &PushButton5;
    case ids::PushButton11: return &PushButton11;
    case ids::PushButton12: return &PushButton12;
    case ids::RichTextBox1: return &RichTextBox1;
    default: return nullptr;
    }
}

void Form1::Layout(UINT dpi) {
    // The old fonts go only after every control has the new ones.
    UniqueFont font(CreateArialBold(900, dpi)), buttonFont(CreateArialBold(1125, dpi));
    std::vector<std::pair<int, RECT>> placed;
    for (int id : kTabOrder) {
        const ControlDesign& design = DesignOf(id);
        Twips r = design.rect;
        if (design.frame) {
            const Twips& frame = DesignOf(design.frame).rect;
            r.left += frame.left;
            r.top += frame.top;
        }
        placed.emplace_back(id, TwipsToPixels(r, dpi));
    }
    // The design lets Option1 reach 5 twips into Text1 below it; the control
    // above (earlier in the window order) would paint over the box's border,
    // so it ends where the lower one begins.
    for (size_t i = 0; i < placed.size(); ++i)
        for (size_t j = i + 1; j < placed.size(); ++j) {
            RECT& upper = placed[i].second;
            const RECT& lower = placed[j].second;
            RECT overlap;
            if (DesignOf(placed[i].first).kind != Kind::Frame && DesignOf(placed[j].first).kind != Kind::Frame &&
                IntersectRect(&overlap, &upper, &lower) && upper.top < lower.top)
                upper.bottom = lower.top;
        }
    for (auto& [id, rect] : placed) {
        Control* control = ControlById(id);
        // A drop-down list's window reaches down over its open list.
        if (DesignOf(id).kind == Kind::ComboBox) rect.bottom = rect.top + TwipsToPixels(1500, dpi);
        control->move(rect);
        control->setFont(DesignOf(id).kind == Kind::PushButton ? buttonFont.get() : font.get());
    }
    font_ = std::move(font);
    buttonFont_ = std::move(buttonFont);
    if (Header_GetItemCount(ListView_GetHeader(ListView1.hwnd())) > 0)
        ListView1.setColumnWidth(TwipsToPixels(kColumnWidthTwips, dpi));

    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
    AdjustWindowRectForDpi(frame, kWindowStyle, kWindowExStyle, dpi);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::CenterOnScreen() {
    RECT window;
    GetWindowRect(hwnd_, &window);
    MONITORINFO monitor{sizeof monitor};
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    int width = window.right - window.left, height = window.bottom - window.top;
    int x = area.left + std::max(0L, (area.right - area.left - width) / 2);
    int y = area.top + std::max(0L, (area.bottom - area.top - height) / 2);
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- start-up ------------------------------------------------------------------

void Form1::Form_Load() {
    Guard guard(L"in Quillbay2021/08/31.Form1.Form_Load ");
    // The statements of start-up step k are numbered from 10 k: a report
    // "at line 90" comes from step 9, the stored interval position.

    // 1. A second instance of the same user ends at once, silently.
    if (guard.test(10, [&] {
            instanceMutex_.reset(CreateMutexW(nullptr, FALSE, services_.instanceName.c_str()));
            return GetLastError() == ERROR_ALREADY_EXISTS;
        })) {
        EndProcess(0);
        return;
    }

    // 2. The optional skin, then about one start in a hundred the home page.
    guard.step(20, [&] { ApplySkin(*this); });
    int draw = 0;
    guard.step(21, [&] { draw = services_.drawPercent(); });
    if (guard.test(22, [&] { return draw == 7; }))
        guard.step(23, [&] {
            services_.startCommand(L"explorer \"" + std::wstring(product::kHomePage) + L"\"", SW_SHOWMINIMIZED);
        });

    // 3. Caption and icon.
    guard.step(30, [&] { if (!SetWindowTextW(hwnd_, product::kTitle)) throw Failure::FromLastError(); });
    guard.step(31, [&] {
        HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
        int big = SystemMetricForDpi(SM_CXICON, dpi_), small = SystemMetricForDpi(SM_CXSMICON, dpi_);
        bigIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVELLE), IMAGE_ICON, big, big, 0));
        smallIcon_ =
            static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVELLE), IMAGE_ICON, small, small, 0));
        if (!bigIcon_ || !smallIcon_) throw Failure::FromLastError();
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    });

    // 4. The caption of message boxes.
    guard.step(40, [&] { SetApplicationTitle(); });

    // 5.-6. The backup location.
    guard.step(50, [&] { Text1.setText(GetSetting(settings::kPath, GetDesktopFolder())); });
    if (guard.test(60, [&] { return GetSetting(settings::kWhereOption, L"1") == L"1"; }))
        guard.step(61, [&] { Option1.setValue(true); });
    else
        guard.step(62, [&] { Option2.setValue(true); });

    // 7.-9. The interval list and its stored position.
    guard.step(70, [&] { ListView1.addColumn(kIntervalHeader, TwipsToPixels(kColumnWidthTwips, dpi_)); });
    guard.step(71, [&] { ListView1.setColumnWidth(TwipsToPixels(kColumnWidthTwips, dpi_)); });
    for (const auto& interval : kIntervals) guard.step(80, [&] { ListView1.addItem(interval.text); });
    guard.step(90, [&] {
        short position = ToInteger16(GetSetting(settings::kOftenIndex, L"3"));
        if (position < 1 || position > ListView1.count()) throw Failure(35600, L"Index out of bounds");
        ListView1.select(position - 1);
    });

    // 10. The switch: exactly "Off" or "On"; anything else keeps the design.
    std::wstring backupSwitch;
    guard.step(100, [&] { backupSwitch = GetSetting(settings::kBackupSwitch, L"On"); });
    if (guard.test(101, [&] { return backupSwitch == L"Off"; })) {
        guard.step(102, [&] { PushButton4.setCaption(kTurnOn); });
        guard.step(103, [&] { ShowStatus(L"Auto Save is Turned Off."); });
        guard.step(104, [&] { Timer1.setInterval(0); });
    } else if (guard.test(105, [&] { return backupSwitch == L"On"; })) {
        guard.step(106, [&] { PushButton4.setCaption(kTurnOff); });
        guard.step(107, [&] { Timer1.setInterval(1000); });
    }

    // 11. New file or overwrite, by the stored value's leading number.
    double backupOption = 0;
    guard.step(110, [&] { backupOption = LeadingNumber(GetSetting(settings::kBackupOption)); });
    if (guard.test(111, [&] { return backupOption == 1; }))
        guard.step(112, [&] { Option3.setValue(true); });
    else if (guard.test(113, [&] { return backupOption == 2; }))
        guard.step(114, [&] { Option4.setValue(true); });
    else
        guard.step(115, [&] { Option3.setValue(true); });
    // The housekeeping choices: whether an unchanged document is skipped,
    // and how long new-file backups are kept (an unknown value keeps all).
    guard.step(116, [&] { Check9.setValue(GetSetting(settings::kSkipUnchanged, L"Off") == L"On"); });
    guard.step(117, [&] {
        for (const auto& choice : kKeepChoices) Combo1.addItem(choice.text);
    });
    guard.step(118, [&] { Combo1.select(KeepChoiceIndex(GetSetting(settings::kKeepBackups, L"0"))); });

    // 12. Show.
    guard.step(120, [&] {
        if (!shownOnce_) CenterOnScreen();
        shownOnce_ = true;
        ShowWindow(hwnd_, SW_SHOW);
        UpdateWindow(hwnd_);
    });

    // 13. The icon stays in the tray for the whole run.
    guard.step(130, [&] { cSysTray1->SetInTray(true); });
    guard.step(131, [&] { cSysTray1->SetTrayTip(product::kTitle); });

    // 14.-16. The two start options; "Start in system tray" hides the window
    // into the tray through the resize handler.
    guard.step(140, [&] { Check5.setValue(GetSetting(settings::kWindowsStartup, L"Off") == L"On"); });
    guard.step(150, [&] { Check8.setValue(GetSetting(settings::kMinimized, L"Off") == L"On"); });
    if (guard.test(160, [&] { return Check8.value(); })) guard.step(161, [&] { ShowWindow(hwnd_, SW_MINIMIZE); });

    // 17. Without Word there is nothing to do: the check has told the user.
    // The icon goes first, or a dead one would stay in the tray.
    bool wordAvailable = true;
    guard.step(170, [&] { wordAvailable = services_.checkWordAvailable(); });
    if (!wordAvailable) {
        cSysTray1->SetInTray(false);
        EndProcess(0);
        return;
    }

    // 18. The backup extension from Word's version.
    double version = 0;
    guard.step(180, [&] { version = services_.getWordVersion(); });
    guard.step(181, [&] { DocExtensionValue = DocExtensionFor(version); });

    // 19. The history file.
    guard.step(190, [&] {
        HistoryFileValue =
            Environ(L"TEMP") + L"\\" + StripFileNameChars(RemoveLastWord(product::kTitle, L"Software")) + L".txt";
    });

    // 20. The optional hand cursor beside the program.
    const std::wstring cursorFile = ProgramFolder() + L"\\HAND-M.CUR";
    if (guard.test(200, [&] { return FileExists(cursorFile); }))
        guard.step(201, [&] {
            HCURSOR cursor = LoadCursorFromFileW(cursorFile.c_str());
            if (!cursor) throw Failure::FromLastError();
            if (handCursor_) DestroyCursor(handCursor_);
            handCursor_ = cursor;
        });

    // 21.
    guard.step(210, [&] { LoadComplete = true; });
}

// ---- scheduler -----------------------------------------------------------------

void Form1::ShowStatus(const std::wstring& text) {
    status_ = text;
    const std::wstring shown = wordDidNotAnswer_ ? text + kWordDidNotAnswerNote : text;
    if (Frame2.caption() != shown) Frame2.setCaption(shown);
}

void Form1::RunBackup() {
    ++runDepth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{runDepth_};
    ShowRunOutcome(services_.saveAll(*this));
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

bool Form1::CursorOverWindow() const {
    POINT cursor;
    if (!GetCursorPos(&cursor)) return false;
    HWND over = WindowFromPoint(cursor);
    return over && (over == hwnd_ || IsChild(hwnd_, over));
}

void Form1::Timer1_Timer() {
    Guard guard(L"in Quillbay2021/08/31.Form1.Timer1_Timer ");
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
    Guard guard(L"in Quillbay2021/08/31.Form1.PushButton4_Click ");
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
    Guard guard(L"in Quillbay2021/08/31.Form1.PushButton2_Click ");
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

// ---- options -------------------------------------------------------------------

void Form1::Option1_Click() { SaveSetting(settings::kWhereOption, L"1"); }
void Form1::Option2_Click() { SaveSetting(settings::kWhereOption, L"2"); }
void Form1::Option3_Click() { SaveSetting(settings::kBackupOption, L"1"); }
void Form1::Option4_Click() { SaveSetting(settings::kBackupOption, L"2"); }

void Form1::Text1_Change() { SaveSetting(settings::kPath, Text1.text()); }

void Form1::Text1_GotFocus() { Text1.setSelection(0, static_cast<int>(Text1.text().size())); }

void Form1::PushButton1_Click() {
    Guard guard(L"in Quillbay2021/08/31.Form1.PushButton1_Click ");
    std::wstring folder;
    guard.step(1, [&] { folder = services_.browseForFolder(hwnd_, L"Please select folder:", L""); });
    if (guard.test(2, [&] { return folder.empty(); })) return;
    guard.step(3, [&] { Text1.setText(folder); });
}

void Form1::PushButton11_Click() {
    Guard guard(L"in Quillbay2021/08/31.Form1.PushButton11_Click ");
    guard.step(1, [&] {
        ShowMessageBox(hwnd_, L"Questions? Please contact Team Kelvane at " + std::wstring(product::kContactPage),
                       std::nullopt, MB_OK);
    });
}

void Form1::ListView1_Click() {
    std::optional<int> index = ListView1.selectedIndex();
    if (!index) {
        // A click beside the items clears the selection; keep the interval
        // the user had instead of leaving the countdown without one.
        if (lastSelected_ >= 0 && lastSelected_ < ListView1.count()) ListView1.select(lastSelected_);
        return;
    }
    SaveSetting(settings::kOftenIndex, std::to_wstring(*index + 1));
    IntervalSeconds = GetIntervalSeconds(ListView1.selectedText());
    ElapsedSeconds = 0;
}

void Form1::Check5_Click() {
    if (!LoadComplete) return;
    if (Check5.value()) {
        Check8.setVisible(true);
        SaveSetting(settings::kWindowsStartup, L"On");
        services_.addToStartup();
    } else {
        Check8.setValue(false);  // its own click handler stores "Off"
        Check8.setVisible(false);
        SaveSetting(settings::kWindowsStartup, L"Off");
        services_.removeFromStartup();
    }
}

void Form1::Check8_Click() { SaveSetting(settings::kMinimized, Check8.value() ? L"On" : L"Off"); }

void Form1::Check9_Click() { SaveSetting(settings::kSkipUnchanged, Check9.value() ? L"On" : L"Off"); }

// Start-up's choice from the store is not written back: the store of a user
// who never touches the list stays as it was.
void Form1::Combo1_Change() {
    if (!LoadComplete) return;
    if (std::optional<int> index = Combo1.selectedIndex())
        SaveSetting(settings::kKeepBackups, std::to_wstring(kKeepChoices[*index].days));
}

int Form1::KeepBackupsDays() const {
    std::optional<int> index = Combo1.selectedIndex();
    return index ? kKeepChoices[*index].days : 0;
}

void Form1::MouseMoveOver(int controlId) {
    if (MousePointer == Pointer::Hourglass) return;
    if (Contains(kPushButtons, controlId))
        MousePointer = Pointer::Custom;
    else if (Contains(kDefaultPointerAreas, controlId))
        MousePointer = Pointer::Default;
}

// ---- lifecycle -----------------------------------------------------------------

void Form1::Form_Resize() {
    if (!IsIconic(hwnd_) || MinimizedToTray) return;
    ShowWindow(hwnd_, SW_HIDE);
    // The window stays minimised while hidden: Windows offers no way to
    // take a hidden window out of that state without showing it (the
    // minimised style cannot be cleared), so cSysTray1_MouseUp restores it,
    // which brings it back at its normal size and place.
    MinimizedToTray = true;
    cSysTray1->ShowBalloon(kBalloonText, product::kTitle, 5, true);
}

void Form1::cSysTray1_MouseUp(short, long) {
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    // A modal box of ours disables the window; it keeps the focus then.
    if (IsWindowEnabled(hwnd_)) SetForegroundWindow(hwnd_);
    MinimizedToTray = false;
}

void Form1::Form_QueryUnload() {
    Guard guard(L"in Quillbay2021/08/31.Form1.Form_QueryUnload ");
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
    if (BackupRunning()) {
        try {
            services_.finishRunNow();
        } catch (...) {
        }
    }
    Unguarded(L"Form_QueryUnload", [&] { Form_QueryUnload(); });
    Form_Unload();
}

void Form1::Form_Unload() { EndProcess(0); }

void Form1::EndProcess(UINT code) { services_.endProcess(code); }

// ---- skin ----------------------------------------------------------------------

void Form1::setBackColor(COLORREF color) {
    backColor_ = color;
    backBrush_.reset(CreateSolidBrush(color));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

int Form1::controlCount() const { return static_cast<int>(std::size(kControls)); }

ControlKind Form1::controlKind(int index) const {
    switch (kControls[index].kind) {
    case Kind::OptionButton: return ControlKind::OptionButton;
    case Kind::CheckBox: return ControlKind::CheckBox;
    case Kind::Frame: return ControlKind::Frame;
    case Kind::Label: return ControlKind::Label;
    default: return ControlKind::Other;
    }
}

void Form1::setControlBackColor(int index, COLORREF color) {
    int id = kControls[index].id;
    std::erase_if(controlBackColors_, [id](const auto& entry) { return entry.first == id; });
    controlBackColors_.emplace_back(id, color);
    if (Control* control = ControlById(id)) InvalidateRect(control->hwnd(), nullptr, TRUE);
}

COLORREF Form1::ControlBackColor(int id) const {
    for (const auto& [controlId, color] : controlBackColors_)
        if (controlId == id) return color;
    return RGB(255, 255, 255);
}

HBRUSH Form1::OnCtlColor(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    COLORREF back = ControlBackColor(id);
    SkinColors skin = SkinColorsOf(control);
    if (skin.face) back = *skin.face;
    if (skin.text) SetTextColor(dc, *skin.text);
    SetBkColor(dc, back);
    return SolidBrushFor(back);
}

// ---- window procedure ----------------------------------------------------------

LRESULT CALLBACK Form1::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Form1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    // Nothing may be thrown into the system's message dispatch.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TaskbarCreatedMessage() && message != 0) {
        // A restarted shell starts with an empty notification area.
        if (cSysTray1) cSysTray1->OnTaskbarCreated();
        return 0;
    }
    switch (message) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_TIMER:
        if (wParam == Timer1.id() && Timer1.Tick) Unguarded(L"Timer1_Timer", Timer1.Tick);
        return 0;
    case WM_SIZE: Unguarded(L"Form_Resize", [&] { Form_Resize(); }); return 0;
    case WM_ACTIVATE: OnActivate(LOWORD(wParam) != WA_INACTIVE); return 0;
    case WM_SETCURSOR:
        if (OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam))) return TRUE;
        break;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(hwnd_, &client);
        SkinColors skin = SkinColorsOf(hwnd_);
        FillRect(reinterpret_cast<HDC>(wParam), &client, skin.face ? SolidBrushFor(*skin.face) : backBrush_.get());
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DPICHANGED: OnDpiChanged(HIWORD(wParam), reinterpret_cast<RECT*>(lParam)); return 0;
    case kTestButtonLater: Unguarded(L"PushButton2_Click", [&] { PushButton2_Click(); }); return 0;
    case WM_CLOSE: CloseNow(); return 0;
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        // Log-off or shut-down, also while hidden in the tray: the icon must
        // not outlive the program.
        if (wParam) CloseNow();
        return 0;
    case WM_DESTROY:
        if (quitOnDestroy_) PostQuitMessage(0);
        break;
    default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Form1::OnCommand(int id, UINT code) {
    // Enter: IsDialogMessage asks a window without a default button for
    // IDOK; a focused push button then takes it as a click.
    if (id == IDOK) {
        HWND focus = GetFocus();
        if (focus && GetParent(focus) == hwnd_ && Contains(kPushButtons, GetDlgCtrlID(focus)))
            SendMessageW(focus, BM_CLICK, 0, 0);
        return;
    }
    if (Control* control = ControlById(id)) control->onCommand(code);
}

LRESULT Form1::OnNotify(const NMHDR& header) {
    if (header.idFrom != static_cast<UINT_PTR>(ids::ListView1)) return 0;
    if (header.code == LVN_ITEMCHANGED) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_SELECTED) && change.iItem >= 0)
            lastSelected_ = change.iItem;
    }
    return ListView1.onNotify(header);
}

bool Form1::OnSetCursor(HWND over, UINT hitTest) {
    if (hitTest != HTCLIENT) return false;
    int id = 0;
    if (over != hwnd_) {
        // A part of a control (the list's header) counts as the control.
        HWND child = over;
        while (child && GetParent(child) != hwnd_) child = GetParent(child);
        id = child ? GetDlgCtrlID(child) : 0;
    }
    MouseMoveOver(id);
    if (MousePointer == Pointer::Hourglass) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return true;
    }
    if (MousePointer == Pointer::Custom && handCursor_ && Contains(kPushButtons, id)) {
        SetCursor(handCursor_);
        return true;
    }
    return false;
}

void Form1::OnDpiChanged(UINT dpi, const RECT* suggested) {
    dpi_ = dpi;
    SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Layout(dpi);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

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
