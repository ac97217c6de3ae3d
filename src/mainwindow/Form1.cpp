// Form1: creation, layout, colours and the window procedure.
#include "mainwindow/Form1.h"

#include "backupswindow/BackupsWindow.h"
#include "common/Dpi.h"
#include "common/Failure.h"
#include "common/Guard.h"
#include "common/Main.h"
#include "engine/RecoveredCopies.h"
#include "mainwindow/Form1Layout.h"
#include "mainwindow/Skin.h"
#include "resources/Resource.h"
#include "shell/mSysTray.h"

#include <windowsx.h>

#include <algorithm>

using namespace form1;

namespace {

constexpr UINT_PTR kTimer1Id = 1;
// Plain copies of protected backups go as soon as Word lets go of them,
// whether or not automatic backup is on.
constexpr UINT_PTR kRecoveredCopiesTimerId = 2;
constexpr UINT kRecoveredCopiesCheckMs = 2000;

HFONT CreateArialBold(int hundredthsOfPoint, UINT dpi) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredthsOfPoint, static_cast<int>(dpi), 7200);
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy_s(font.lfFaceName, L"Arial");
    return CreateFontIndirectW(&font);
}

// The window class and styles of each kind of control.
struct WindowClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

WindowClass WindowClassOf(Kind kind) {
    constexpr DWORD kShown = WS_VISIBLE, kTab = WS_VISIBLE | WS_TABSTOP;
    switch (kind) {
    case Kind::PushButton: return {WC_BUTTONW, kTab | BS_PUSHBUTTON, 0};
    case Kind::Frame: return {WC_BUTTONW, kShown | BS_GROUPBOX, 0};
    case Kind::ProgressBar: return {PROGRESS_CLASSW, kShown, 0};
    case Kind::OptionButton: return {WC_BUTTONW, kTab | BS_RADIOBUTTON, 0};
    case Kind::CheckBox: return {WC_BUTTONW, kTab | BS_CHECKBOX, 0};
    case Kind::TextBox: return {WC_EDITW, kTab | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Kind::ListView: return {WC_LISTVIEWW, kTab | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE};
    case Kind::Label: return {WC_STATICW, kShown | SS_LEFT, 0};
    case Kind::ComboBox: return {WC_COMBOBOXW, kTab | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
    }
    throw Failure::InvalidArgument();
}

}  // namespace

// A handler without a guard of its own, run for the user or the system,
// reports a failure under its own name (step 0: it numbers no steps) rather
// than letting it cross the window procedure.
void Form1::ReportFailuresOf(const wchar_t* handler, const std::function<void()>& body) {
    Guard(L"Form1", handler).step(0, body);
}

// ---- creation ------------------------------------------------------------------

Form1::Form1(std::unique_ptr<Form1Services> services)
    : services_(services ? std::move(services) : std::make_unique<Form1Services>()), useServices_(*services_) {}

Form1::~Form1() {
    // The wait's callback posts to the window: it is over before the window goes.
    if (closeWait_) UnregisterWaitEx(closeWait_, INVALID_HANDLE_VALUE);
    Timer1.setEnabled(false);
    // The session-end backup uses the run and the services: its calls end at their bound.
    if (lastMomentThread_) WaitForSingleObject(lastMomentThread_.get(), 10000);
    cSysTray1.reset();  // takes the icon out of the tray
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void Form1::Create(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
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
    SetTimer(hwnd_, kRecoveredCopiesTimerId, kRecoveredCopiesCheckMs, nullptr);

    // The tray control as designed: not in the tray, no tip, the blue icon,
    // in the small-icon size the notification area draws at the system DPI.
    const int traySize = GetSystemMetrics(SM_CXSMICON);
    trayIcon_.reset(
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON, traySize, traySize, 0)));
    cSysTray1 = std::make_unique<cSysTray>(hwnd_);
    SetWindowLongPtrW(cSysTray1->Window(), GWLP_ID, ids::TrayIconWindow);
    cSysTray1->SetTrayIcon(trayIcon_.get());
    cSysTray1->MouseUp = [this](short button, long id) {
        ReportFailuresOf(L"cSysTray1_MouseUp", [&] { cSysTray1_MouseUp(button, id); });
    };
    cSysTray1->BalloonClick = [this] {
        ReportFailuresOf(L"cSysTray1_BalloonClick", [&] { cSysTray1_BalloonClick(); });
    };

    SkinFramework1 = CreateSkinFramework();
}

void Form1::CreateControls() {
    for (const ControlDesign& design : kControls) {
        const WindowClass window = WindowClassOf(design.kind);
        Control& control = design.control(*this);
        control.create(hwnd_, design.id, window.name, design.caption, window.style, window.exStyle);
        if (design.kind == Kind::ListView)
            SendMessageW(control.hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                         LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    }
    status_ = Frame2.caption();
    for (const ControlDesign& design : kControls)
        if (design.kind == Kind::Frame)
            SetWindowPos(design.control(*this).hwnd(), HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    Option1.setGroup({&Option1, &Option2});
    Option2.setGroup({&Option1, &Option2});
    Option3.setGroup({&Option3, &Option4});
    Option4.setGroup({&Option3, &Option4});

    // An event that code raised (start-up setting a stored value, a handler
    // clearing Check8) fails into the code that raised it and is reported
    // under that code's guard and step; one that the user raised is handled
    // here.
    for (const ControlDesign& design : kControls)
        for (const EventWiring& wiring : design.events) {
            if (!wiring.handler) continue;
            Control& control = design.control(*this);
            Control::Handler* event = control.event(wiring.event);
            if (!event) throw Failure::InvalidArgument();
            *event = [this, &control, wiring] {
                if (control.raisedByCode())
                    (this->*wiring.handler)();
                else
                    ReportFailuresOf(wiring.name, [&] { (this->*wiring.handler)(); });
            };
        }
}

Control* Form1::ControlById(int id) {
    const ControlDesign* design = DesignOf(id);
    return design ? &design->control(*this) : nullptr;
}

void Form1::Layout(UINT dpi) {
    // The old fonts go only after every control has the new ones.
    UniqueFont font(CreateArialBold(900, dpi)), buttonFont(CreateArialBold(1125, dpi));
    std::vector<std::pair<const ControlDesign*, RECT>> placed;
    for (const ControlDesign& design : kControls) {
        Twips r = design.rect;
        if (design.frame) {
            const Twips& frame = DesignOf(design.frame)->rect;
            r.left += frame.left;
            r.top += frame.top;
        }
        placed.emplace_back(&design, TwipsToPixels(r, dpi));
    }
    // The design lets Option1 reach 5 twips into Text1 below it; the control
    // above (earlier in the window order) would paint over the box's border,
    // so it ends where the lower one begins.
    for (size_t i = 0; i < placed.size(); ++i)
        for (size_t j = i + 1; j < placed.size(); ++j) {
            RECT& upper = placed[i].second;
            const RECT& lower = placed[j].second;
            RECT overlap;
            if (placed[i].first->kind != Kind::Frame && placed[j].first->kind != Kind::Frame &&
                IntersectRect(&overlap, &upper, &lower) && upper.top < lower.top)
                upper.bottom = lower.top;
        }
    for (auto& [design, rect] : placed) {
        Control& control = design->control(*this);
        // A drop-down list's window reaches down over its open list.
        if (design->kind == Kind::ComboBox) rect.bottom = rect.top + TwipsToPixels(1500, dpi);
        control.move(rect);
        control.setFont(design->kind == Kind::PushButton ? buttonFont.get() : font.get());
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

// ---- colours -------------------------------------------------------------------
// ApplySkin addresses the controls by their position in the table.

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
    const int id = kControls[index].id;
    std::erase_if(controlBackColors_, [id](const auto& entry) { return entry.first == id; });
    controlBackColors_.emplace_back(id, color);
    if (Control* control = ControlById(id)) InvalidateRect(control->hwnd(), nullptr, TRUE);
}

COLORREF Form1::ControlBackColor(int id) const {
    for (const auto& [controlId, color] : controlBackColors_)
        if (controlId == id) return color;
    return RGB(255, 255, 255);
}

void Form1::OnEraseBackground(HDC dc) {
    RECT client;
    GetClientRect(hwnd_, &client);
    SkinColors skin = SkinColorsOf(hwnd_);
    FillRect(dc, &client, skin.face ? SolidBrushFor(*skin.face) : backBrush_.get());
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
    // A registered message has no constant to switch on.  Its number is 0
    // only when the registration failed, and WM_NULL is not it.
    if (message == TaskbarCreatedMessage() && message != 0) {
        OnTaskbarCreated();
        return 0;
    }
    switch (message) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_TIMER: OnTimer(wParam); return 0;
    case WM_SIZE: ReportFailuresOf(L"Form_Resize", [&] { Form_Resize(); }); return 0;
    case WM_ACTIVATE: OnActivate(LOWORD(wParam) != WA_INACTIVE); return 0;
    case WM_SETCURSOR:
        if (OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam))) return TRUE;
        break;
    case WM_ERASEBKGND: OnEraseBackground(reinterpret_cast<HDC>(wParam)); return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DPICHANGED: OnDpiChanged(HIWORD(wParam), reinterpret_cast<RECT*>(lParam)); return 0;
    case kTestButtonLater: ReportFailuresOf(L"PushButton2_Click", [&] { PushButton2_Click(); }); return 0;
    case kShowHeldReports: ShowHeldReports(); return 0;
    case kWriteTaken: WriteTaken(); return 0;
    case WM_CLOSE: CloseNow(); return 0;
    // Sign-out, restart, shut-down, sleep: one more backup of what changed,
    // within what Windows waits for; the session always goes on.
    case WM_QUERYENDSESSION:
        Guard::Quiet().step(0, [&] { BackUpBeforeLeaving(kSessionEndBound); });
        return TRUE;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND) Guard::Quiet().step(0, [&] { BackUpBeforeLeaving(kSleepBound); });
        return TRUE;
    // Log-off or shut-down, also while hidden in the tray: the icon must not
    // outlive the program.
    case WM_ENDSESSION:
        if (wParam) CloseNow();
        return 0;
    case WM_DESTROY: OnDestroy(); break;
    default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Form1::OnTimer(UINT_PTR id) {
    if (id == Timer1.id() && Timer1.Tick) ReportFailuresOf(L"Timer1_Timer", Timer1.Tick);
    if (id == kRecoveredCopiesTimerId) RemoveReleasedCopies();
}

void Form1::OnDestroy() {
    if (quitOnDestroy_) PostQuitMessage(0);
}

void Form1::OnCommand(int id, UINT code) {
    // Enter: IsDialogMessage asks a window without a default button for
    // IDOK; a focused push button then takes it as a click.
    if (id == IDOK) {
        HWND focus = GetFocus();
        if (focus && GetParent(focus) == hwnd_ && IsPushButton(GetDlgCtrlID(focus)))
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

void Form1::MouseMoveOver(int controlId) {
    if (MousePointer == Pointer::Hourglass) return;
    // The window's own background sets the default pointer, as the frames do.
    const ControlDesign* design = DesignOf(controlId);
    const MouseMove rule = controlId == 0 ? MouseMove::Default : design ? design->mouseMove : MouseMove::Keep;
    if (rule == MouseMove::Custom)
        MousePointer = Pointer::Custom;
    else if (rule == MouseMove::Default)
        MousePointer = Pointer::Default;
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
    if (MousePointer == Pointer::Custom && handCursor_ && IsPushButton(id)) {
        SetCursor(handCursor_.get());
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
