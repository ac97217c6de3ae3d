#include "mainwindow/Controls.h"

#include "common/Failure.h"

#include <algorithm>
#include <iterator>

RECT TwipsToPixels(const Twips& twips, UINT dpi) {
    int left = TwipsToPixels(twips.left, dpi), top = TwipsToPixels(twips.top, dpi);
    // Right and bottom from the twips edges, so that neighbours meet exactly.
    return {left, top, TwipsToPixels(twips.left + twips.width, dpi), TwipsToPixels(twips.top + twips.height, dpi)};
}

// ---- Control -------------------------------------------------------------------

void Control::create(HWND parent, int id, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                     DWORD exStyle) {
    id_ = id;
    // Each control is a group of its own: arrow keys never move the focus
    // from one control to the next (option groups are kept by the wrapper).
    hwnd_ = CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | WS_GROUP | style, 0, 0,
                            0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (!hwnd_) throw Failure::FromLastError();
}

std::wstring Control::caption() const {
    // One WM_GETTEXT for a caption that fits the buffer (the status frame's is
    // read on every countdown tick), the length first only for a longer one.
    wchar_t buffer[128];
    const int read = GetWindowTextW(hwnd_, buffer, static_cast<int>(std::size(buffer)));
    if (read < static_cast<int>(std::size(buffer)) - 1) return std::wstring(buffer, static_cast<size_t>(read));
    int length = GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd_, text.data(), length + 1)));
    return text;
}

void Control::setCaption(const std::wstring& text) {
    if (!SetWindowTextW(hwnd_, text.c_str())) throw Failure::FromLastError();
}

bool Control::visible() const { return (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0; }

void Control::setVisible(bool visible) { ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE); }

void Control::move(const RECT& r) {
    SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Control::setFont(HFONT font) { SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

void Control::raise(const std::function<void()>& event) {
    if (!event) return;
    if (!raisedByCode()) {
        event();
        return;
    }
    try {
        event();
    } catch (...) {
        if (!failure_) failure_ = std::current_exception();
    }
}

// ---- PushButton ----------------------------------------------------------------

void PushButton::onCommand(UINT code) {
    if (code == BN_CLICKED) raise(Click);
}

// ---- OptionButton --------------------------------------------------------------

bool OptionButton::value() const { return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void OptionButton::setValue(bool on) {
    if (!on) {
        SendMessageW(hwnd_, BM_SETCHECK, BST_UNCHECKED, 0);
        return;
    }
    changeFromCode([&] { switchOn(); });
}

void OptionButton::switchOn() {
    for (OptionButton* other : group_)
        if (other != this) SendMessageW(other->hwnd_, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(hwnd_, BM_SETCHECK, BST_CHECKED, 0);
    raise(Click);
}

void OptionButton::onCommand(UINT code) {
    if (code == BN_CLICKED) switchOn();
}

// ---- CheckBox ------------------------------------------------------------------

bool CheckBox::value() const { return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void CheckBox::setValue(bool checked) {
    changeFromCode([&] { change(checked); });
}

void CheckBox::change(bool checked) {
    if (checked == value()) return;
    SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    raise(Click);
}

void CheckBox::onCommand(UINT code) {
    if (code == BN_CLICKED) change(!value());
}

// ---- ComboBox ------------------------------------------------------------------

void ComboBox::addItem(const std::wstring& text) {
    SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int ComboBox::count() const { return static_cast<int>(SendMessageW(hwnd_, CB_GETCOUNT, 0, 0)); }

std::optional<int> ComboBox::selectedIndex() const {
    LRESULT index = SendMessageW(hwnd_, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return std::nullopt;
    return static_cast<int>(index);
}

// CB_SETCURSEL sends no CBN_SELCHANGE: the change is raised here.
void ComboBox::select(int index) {
    changeFromCode([&] {
        if (selectedIndex() == index) return;
        SendMessageW(hwnd_, CB_SETCURSEL, index, 0);
        raise(Change);
    });
}

// The list is as wide as its longest item in the font of the moment (a DPI
// change brings another), however narrow the box.
void ComboBox::onCommand(UINT code) {
    if (code == CBN_SELCHANGE) raise(Change);
    if (code != CBN_DROPDOWN) return;
    HDC dc = GetDC(hwnd_);
    if (!dc) return;
    HGDIOBJ before = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
        std::wstring text(static_cast<size_t>(std::max<LRESULT>(0, SendMessageW(hwnd_, CB_GETLBTEXTLEN, i, 0))), L'\0');
        SendMessageW(hwnd_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, before);
    ReleaseDC(hwnd_, dc);
    const int margins = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
    SendMessageW(hwnd_, CB_SETDROPPEDWIDTH, widest + margins, 0);
}

// ---- TextBox -------------------------------------------------------------------

// WM_SETTEXT makes the edit control send EN_CHANGE, which raises Change.
void TextBox::setText(const std::wstring& text) {
    changeFromCode([&] { setCaption(text); });
}

void TextBox::setSelection(int start, int length) { SendMessageW(hwnd_, EM_SETSEL, start, start + length); }

std::pair<int, int> TextBox::selection() const {
    DWORD start = 0, end = 0;
    SendMessageW(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(start), static_cast<int>(end - start)};
}

void TextBox::onCommand(UINT code) {
    if (code == EN_CHANGE) raise(Change);
    if (code == EN_SETFOCUS) raise(GotFocus);
}

// ---- ProgressBar ---------------------------------------------------------------

long ProgressBar::max() const { return static_cast<long>(SendMessageW(hwnd_, PBM_GETRANGE, FALSE, 0)); }

void ProgressBar::setMax(long value) { SendMessageW(hwnd_, PBM_SETRANGE32, 0, value); }

long ProgressBar::value() const { return static_cast<long>(SendMessageW(hwnd_, PBM_GETPOS, 0, 0)); }

void ProgressBar::setValue(long value) { SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(value), 0); }

// ---- ListView ------------------------------------------------------------------

void ListView::addColumn(const std::wstring& header, int widthPixels) {
    std::wstring text = header;
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = widthPixels;
    if (SendMessageW(hwnd_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)) < 0)
        throw Failure::Text(L"The list's column could not be added");
}

void ListView::setColumnWidth(int widthPixels) { SendMessageW(hwnd_, LVM_SETCOLUMNWIDTH, 0, widthPixels); }

std::wstring ListView::columnHeader() const {
    wchar_t buffer[256] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = buffer;
    column.cchTextMax = static_cast<int>(std::size(buffer));
    if (!SendMessageW(hwnd_, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column))) return {};
    return buffer;
}

int ListView::columnWidth() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETCOLUMNWIDTH, 0, 0)); }

void ListView::addItem(const std::wstring& text) {
    std::wstring copy = text;
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = count();
    item.pszText = copy.data();
    if (SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) < 0)
        throw Failure::Text(L"The list item could not be added");
}

int ListView::count() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListView::itemText(int index) const {
    wchar_t buffer[256] = {};
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = buffer;
    item.cchTextMax = static_cast<int>(std::size(buffer));
    SendMessageW(hwnd_, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::optional<int> ListView::selectedIndex() const {
    int index = static_cast<int>(SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (index < 0) return std::nullopt;
    return index;
}

std::optional<std::wstring> ListView::selectedText() const {
    auto index = selectedIndex();
    if (!index) return std::nullopt;
    return itemText(*index);
}

void ListView::select(int index) {
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    if (index < 0) return;
    LVITEMW item{};
    item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
    SendMessageW(hwnd_, LVM_ENSUREVISIBLE, index, FALSE);
}

LRESULT ListView::onNotify(const NMHDR& header) {
    if (header.code == NM_CLICK) raise(Click);
    return 0;
}

// ---- Timer ---------------------------------------------------------------------

void Timer::setInterval(UINT milliseconds) {
    interval_ = milliseconds;
    apply();
}

void Timer::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

void Timer::apply() {
    if (enabled_ && interval_ > 0 && host_) {
        // SetTimer with the same id replaces the running timer.
        if (!SetTimer(host_, id_, interval_, nullptr)) throw Failure::FromLastError();
        running_ = true;
    } else {
        stop();
    }
}

void Timer::stop() {
    if (running_ && host_ && IsWindow(host_)) KillTimer(host_, id_);
    running_ = false;
}
