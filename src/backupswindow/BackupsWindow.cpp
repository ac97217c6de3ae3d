// The Backups window: creation, layout, keyboard, the context menu and the
// actions on a backup.
#include "backupswindow/BackupsWindow.h"

#include "common/Dpi.h"
#include "common/Failure.h"
#include "common/Guard.h"
#include "common/MessageBox.h"
#include "backupswindow/BackupActions.h"
#include "common/Services.h"
#include "engine/BackupName.h"
#include "engine/ProtectedContent.h"
#include "engine/RecoveredCopies.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cwchar>
#include <iterator>

using namespace backups;

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;

// The actions, as buttons and as the context menu's items.
constexpr wchar_t kOpenCopyText[] = L"&Open a Copy", kCompareText[] = L"&Compare with Current Document",
                  kShowInFolderText[] = L"&Show in Folder", kDeleteText[] = L"De&lete";

struct ChildDesign {
    int id;
    const wchar_t* windowClass;
    const wchar_t* text;
    DWORD style;
};

// In tab order: each label comes just before the control its access key
// moves to.
constexpr ChildDesign kChildren[] = {
    {kFilterLabel, WC_STATICW, L"&Filter documents:", SS_LEFT},
    {kFilter, WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL},
    {kSearchLabel, WC_STATICW, kSearchText, SS_LEFT},
    {kSearch, WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL},
    {kAllDocuments, WC_BUTTONW, kAllDocumentsText, WS_TABSTOP | BS_AUTOCHECKBOX},
    {kDocumentsLabel, WC_STATICW, kDocumentsText, SS_LEFT},
    {kDocuments, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA},
    {kBackupsLabel, WC_STATICW, kBackupsText, SS_LEFT},
    {kBackups, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA},
    {kOpenCopy, WC_BUTTONW, kOpenCopyText, WS_TABSTOP | BS_DEFPUSHBUTTON},
    {kCompare, WC_BUTTONW, kCompareText, WS_TABSTOP | BS_PUSHBUTTON},
    {kShowInFolder, WC_BUTTONW, kShowInFolderText, WS_TABSTOP | BS_PUSHBUTTON},
    {kDelete, WC_BUTTONW, kDeleteText, WS_TABSTOP | BS_PUSHBUTTON},
    {kClose, WC_BUTTONW, L"Close", WS_TABSTOP | BS_PUSHBUTTON},
};

struct Column {
    const wchar_t* header;
    int width;  // at 96 dpi
    int format;
};
constexpr Column kDocumentColumns[] = {
    {L"Document", 220, LVCFMT_LEFT}, {L"Backups", 70, LVCFMT_RIGHT}, {L"Last backup", 250, LVCFMT_LEFT},
    {L"Folder", 260, LVCFMT_LEFT}};
constexpr Column kBackupColumns[] = {
    {L"When", 290, LVCFMT_LEFT}, {L"Size", 90, LVCFMT_RIGHT}, {L"Change", 160, LVCFMT_LEFT},
    {L"Folder", 260, LVCFMT_LEFT}};

constexpr struct {
    int id;
    const wchar_t* text;
} kActions[] = {{kOpenCopy, kOpenCopyText}, {kCompare, kCompareText}, {kShowInFolder, kShowInFolderText},
                {kDelete, kDeleteText}};

}  // namespace

BackupsWindow::BackupsWindow(std::wstring historyFile, std::function<std::vector<std::wstring>()> rememberedFolders,
                             std::wstring journalFile)
    : historyFile_(std::move(historyFile)),
      journalFile_(std::move(journalFile)),
      rememberedFolders_(std::move(rememberedFolders)) {}

BackupsWindow::~BackupsWindow() {
    load_.reset();  // before the window goes: they post to it
    search_.reset();
    preview_.reset();
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void BackupsWindow::Show() {
    if (hwnd_) {
        if (!IsWindowVisible(hwnd_)) Open();
        if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
        ShowWindow(hwnd_, SW_SHOW);
        SetForegroundWindow(hwnd_);
        return;
    }
    Create();
    Open();
    // The document the user is working on, when Word has one.
    if (auto active = ActiveWordDocument(RunningWord())) wanted_ = Wanted{active->name, active->folder};
    Run(L"Form_Load", &BackupsWindow::Refresh);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    SetFocus(documents_);
}

void BackupsWindow::ShowDocumentOf(const std::wstring& backupPath) {
    if (!hwnd_) Create();
    wanted_ = Wanted{};
    wanted_->backupPath = backupPath;
    Run(L"Form_Load", &BackupsWindow::Refresh);
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    SetFocus(documents_);
}

void BackupsWindow::Create() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    static const ATOM atom = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = &WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc);
    }();
    if (!atom) throw Failure::FromLastError();
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, kWindowClass, kCaption, kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) throw Failure::FromLastError();
    const UINT dpi = DpiOf(hwnd_);
    NONCLIENTMETRICSW metrics{sizeof metrics};
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    font_.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    for (const ChildDesign& child : kChildren) {
        HWND control = CreateWindowExW(child.id == kFilter || child.id == kSearch || child.id == kDocuments ||
                                               child.id == kBackups
                                           ? WS_EX_CLIENTEDGE : 0,
                                       child.windowClass, child.text, WS_CHILD | WS_VISIBLE | child.style, 0, 0, 10,
                                       10, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.id)),
                                       GetModuleHandleW(nullptr), nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    }
    filter_ = GetDlgItem(hwnd_, kFilter);
    documents_ = GetDlgItem(hwnd_, kDocuments);
    backups_ = GetDlgItem(hwnd_, kBackups);
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 10, 10, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatus)), GetModuleHandleW(nullptr),
                              nullptr);
    SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    for (auto [list, columns, count] : {std::tuple{documents_, kDocumentColumns, std::size(kDocumentColumns)},
                                        std::tuple{backups_, kBackupColumns, std::size(kBackupColumns)}}) {
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
        for (size_t i = 0; i < count; ++i) {
            LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH | LVCF_FMT};
            column.fmt = columns[i].format;
            column.cx = MulDiv(columns[i].width, static_cast<int>(dpi), 96);
            column.pszText = const_cast<wchar_t*>(columns[i].header);
            ListView_InsertColumn(list, static_cast<int>(i), &column);
        }
    }
    RECT frame{0, 0, MulDiv(900, static_cast<int>(dpi), 96), MulDiv(600, static_cast<int>(dpi), 96)};
    AdjustWindowRectForDpi(frame, kStyle, WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, dpi);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void BackupsWindow::Layout() {
    RECT client;
    GetClientRect(hwnd_, &client);
    const int dpi = static_cast<int>(DpiOf(hwnd_));
    auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
    const int margin = px(10), gap = px(6), line = px(16), edit = px(23), button = px(28);
    const int width = client.right - 2 * margin;
    auto place = [&](int id, int x, int y, int w, int h) { MoveWindow(GetDlgItem(hwnd_, id), x, y, w, h, TRUE); };
    int y = margin;
    place(kFilterLabel, margin, y + px(4), px(120), line);
    place(kFilter, margin + px(125), y, px(200), edit);
    place(kSearchLabel, margin + px(345), y + px(4), px(130), line);
    place(kSearch, margin + px(480), y, px(220), edit);
    place(kAllDocuments, margin + px(712), y + px(2), px(130), px(20));
    y += edit + gap;
    RECT bar{};
    if (status_) {
        SendMessageW(status_, WM_SIZE, 0, 0);
        GetWindowRect(status_, &bar);
    }
    const int buttonsTop = client.bottom - (bar.bottom - bar.top) - margin - button;
    const int lists = std::max(0, buttonsTop - gap - y - 2 * line);
    const int documentsHeight = lists * 2 / 5;
    place(kDocumentsLabel, margin, y, width, line);
    y += line;
    place(kDocuments, margin, y, width, documentsHeight);
    y += documentsHeight + gap;
    place(kBackupsLabel, margin, y, width, line);
    y += line;
    const int listWidth = preview_ ? width * 11 / 20 : width;
    place(kBackups, margin, y, listWidth, std::max(0, buttonsTop - gap - y));
    if (preview_)
        MoveWindow(preview_->hwnd(), margin + listWidth + gap, y - line, width - listWidth - gap,
                   std::max(0, buttonsTop - gap - y + line), TRUE);
    int x = margin;
    for (int id : {static_cast<int>(kOpenCopy), static_cast<int>(kCompare), static_cast<int>(kShowInFolder),
                   static_cast<int>(kDelete)}) {
        const int w = id == kCompare ? px(230) : px(130);
        place(id, x, buttonsTop, w, button);
        x += w + gap;
    }
    place(kClose, client.right - margin - px(90), buttonsTop, px(90), button);
}

LRESULT CALLBACK BackupsWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<BackupsWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<BackupsWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT BackupsWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_CONTEXTMENU: OnContextMenu(reinterpret_cast<HWND>(wParam), lParam); return 0;
    case WM_SIZE: Layout(); return 0;
    case kCatalogueFound: OnCatalogueFound(); return 0;
    case kSearchFound: OnSearchFound(); return 0;
    case kPreviewDue: UpdatePreview(); return 0;
    case WM_SETCURSOR:
        // The pointer says the backups are still being read; the window answers meanwhile.
        if (load_ && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    // Closing hides: the window keeps its place and sort until shown again.
    case WM_CLOSE: Close(); return 0;
    default: return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

bool BackupsWindow::TranslateDialogMessage(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F5) {
        Run(L"Refresh", &BackupsWindow::Refresh);
        return true;
    }
    return IsDialogMessageW(hwnd_, &msg);
}

void BackupsWindow::OnCommand(int id, UINT code) {
    switch (id) {
    case kFilter:
        if (code == EN_CHANGE) {
            wchar_t text[256] = {};
            GetWindowTextW(filter_, text, 256);
            SetFilter(text);
        }
        break;
    case kOpenCopy: Run(L"OpenCopy", &BackupsWindow::OpenCopy); break;
    case kCompare: Run(L"Compare", &BackupsWindow::Compare); break;
    case kShowInFolder: Run(L"ShowInFolder", &BackupsWindow::ShowInFolder); break;
    case kDelete: Run(L"Delete", &BackupsWindow::Delete); break;
    case kSearch:
        if (code == EN_CHANGE) {
            wchar_t text[256] = {};
            GetWindowTextW(GetDlgItem(hwnd_, kSearch), text, 256);
            Search(text, allDocuments_);
        }
        break;
    case kAllDocuments:
        allDocuments_ = SendDlgItemMessageW(hwnd_, kAllDocuments, BM_GETCHECK, 0, 0) == BST_CHECKED;
        Search(searchWords_, allDocuments_);
        break;
    case kClose: Close(); break;
    default: break;
    }
}

LRESULT BackupsWindow::OnNotify(const NMHDR& header) {
    const bool documents = header.hwndFrom == documents_;
    if (!documents && header.hwndFrom != backups_) return 0;
    switch (header.code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            const std::wstring text =
                documents ? documentText(item.iItem, item.iSubItem) : backupText(item.iItem, item.iSubItem);
            wcsncpy_s(item.pszText, item.cchTextMax, text.c_str(), _TRUNCATE);
        }
        return 0;
    }
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (documents && (change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_SELECTED) && change.iItem >= 0 &&
            selectedDocument_ != change.iItem) {
            wanted_.reset();  // the user's choice stands
            selectedDocument_ = change.iItem;
            FillBackups();
        }
        // The newest backup's preview asks Word, which Windows refuses inside
        // a message another thread sent (a driver's LVM_SETITEMSTATE): later.
        if (!documents && (change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_SELECTED)) {
            if (InSendMessage()) PostMessageW(hwnd_, kPreviewDue, 0, 0);
            else UpdatePreview();
        }
        return 0;
    }
    case LVN_COLUMNCLICK:
        SortBy(documents ? kDocuments : kBackups, reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        return 0;
    case NM_DBLCLK:
        if (!documents) Run(L"OpenCopy", &BackupsWindow::OpenCopy);
        return 0;
    default: return 0;
    }
}

// From the keyboard (Shift+F10, the menu key) both coordinates are -1 (on
// 64-bit Windows lParam is then 0xFFFFFFFF, not -1): the menu opens at the
// selected row.  From the mouse, the row under it is selected first.
void BackupsWindow::OnContextMenu(HWND from, LPARAM at) {
    if (from != backups_) return;
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    int row = ListView_GetNextItem(backups_, -1, LVNI_SELECTED);
    if (point.x == -1 && point.y == -1) {
        RECT item{LVIR_LABEL};
        if (row < 0 || !ListView_GetItemRect(backups_, row, &item, LVIR_LABEL)) GetClientRect(backups_, &item);
        point = {item.left, item.bottom};
        ClientToScreen(backups_, &point);
    } else {
        LVHITTESTINFO hit{point};
        ScreenToClient(backups_, &hit.pt);
        row = ListView_HitTest(backups_, &hit);
        if (row >= 0) SelectBackup(row);
    }
    if (row < 0) return;
    HMENU menu = CreatePopupMenu();
    for (const auto& action : kActions) AppendMenuW(menu, MF_STRING, action.id, action.text);
    SetMenuDefaultItem(menu, kOpenCopy, FALSE);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, hwnd_, nullptr);
    DestroyMenu(menu);
    if (chosen) OnCommand(chosen, BN_CLICKED);
}

// No failure crosses the window procedure: each is reported in the box.
void BackupsWindow::Run(const wchar_t* routine, void (BackupsWindow::*action)()) {
    Guard(L"Backups", routine).step(1, [&] { (this->*action)(); });
}

void BackupsWindow::Refresh() {
    if (const CatalogueDocument* d = document(); d && !wanted_)
        wanted_ = Wanted{{}, d->folder, d->stem, d->number, true, d->identity};
    load_.reset();
    catalogue_ = BackupCatalogue();
    selectedDocument_.reset();
    shownDocument_.reset();
    FillDocuments(std::nullopt);
    SetDlgItemTextW(hwnd_, kDocumentsLabel, kReadingDocumentsText);
    load_ = std::make_unique<CatalogueLoad>(historyFile_, journalFile_, rememberedFolders_(), hwnd_, kCatalogueFound);
}

// What is used of the selection is copied first: the lists may be replaced
// while a box is up or Word is asked.
std::optional<BackupsWindow::Chosen> BackupsWindow::chosen() const {
    const CatalogueDocument* d = backupDocument();
    const BackupFile* b = backup();
    if (!d || !b) return std::nullopt;
    return Chosen{d->name, d->folder, d->path(*b), b->isProtected};
}

void BackupsWindow::OpenCopy() {
    const std::optional<Chosen> c = chosen();
    if (!c) return;
    const std::wstring copy = CopyForRecovery(c->path, c->name, LocalNow());
    if (Dispatch word = RunningWord())
        OpenInWord(word, copy);
    else
        OpenWithAssociatedProgram(copy);
    if (c->isProtected) ShowMessageBox(hwnd_, kCopyHasNoPassword, std::nullopt, MB_OK | MB_ICONINFORMATION);
}

void BackupsWindow::Compare() {
    const std::optional<Chosen> c = chosen();
    if (!c) return;
    Dispatch word = RunningWord();
    Dispatch current = OpenWordDocument(word, c->name, c->folder);
    if (!current) {
        ShowMessageBox(hwnd_, c->name + L" is not open in Word, so there is nothing to compare this backup with.",
                       std::nullopt, MB_OK | MB_ICONINFORMATION);
        return;
    }
    // Known before the comparison exists: what it shows of a protected
    // backup or document must never be backed up in plain.
    Protection protection = ProtectionOf(current, std::make_shared<MemberIds>());
    if (protection != Protection::RightsManaged && c->isProtected) protection = Protection::Password;
    const std::wstring copy = CopyForRecovery(c->path, c->name, LocalNow());
    Dispatch comparison = CompareInWord(word, OpenInWord(word, copy), current);
    if (protection == Protection::Password || protection == Protection::RightsManaged)
        RememberProtectedComparison(comparison, protection);
    if (c->isProtected) ShowMessageBox(hwnd_, kCopyHasNoPassword, std::nullopt, MB_OK | MB_ICONINFORMATION);
}

void BackupsWindow::ShowInFolder() {
    const CatalogueDocument* d = backupDocument();
    if (const BackupFile* b = backup()) ::ShowInFolder(d->path(*b));
}

void BackupsWindow::Delete() {
    const CatalogueDocument* d = backupDocument();
    const BackupFile* b = backup();
    if (!d || !b) return;
    const std::wstring path = d->path(*b);
    const bool recycled = RecycleBinTakes(path);
    if (ShowMessageBox(hwnd_, (recycled ? kRecycleQuestion : kDeleteForGoodQuestion) + (L"\r\n\r\n" + path),
                       std::nullopt,
                       MB_YESNO | (recycled ? MB_ICONQUESTION : MB_ICONWARNING | MB_DEFBUTTON2)) != IDYES)
        return;
    DeleteBackupFile(hwnd_, path, !recycled);
    Refresh();
}
