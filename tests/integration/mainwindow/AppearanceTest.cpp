// The window as designed: its controls' classes, captions, places, fonts,
// kinds and tab order, the text they draw, and the colours a skin file gives.
#include "FormFixture.h"

#include "common/Dpi.h"
#include "common/Main.h"
#include "support/WindowLookup.h"

#include <commctrl.h>

#include <map>
#include <vector>

namespace {

struct Designed {
    int id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    int left, top, width, height;  // twips, relative to the window's client area
};

// The design, with the positions inside frames already added up.
constexpr Designed kDesign[] = {
    {ids::PushButton4, L"Button", L"Turn On Backup Save", 120, 120, 7800, 405},
    {ids::Frame2, L"Button", L"On. Next backup save will occur in", 120, 570, 7800, 900},
    {ids::ProgressBar1, L"msctls_progress32", L"", 360, 870, 7320, 405},
    {ids::Frame1, L"Button", L"Where would you like to backup all open MS Word documents?", 120, 1530, 7800, 1400},
    {ids::Option1, L"Button", L"Save all backups to this location:", 360, 1830, 3840, 255},
    {ids::Text1, L"Edit", L"Text1", 600, 2080, 6135, 345},
    {ids::PushButton1, L"Button", L"...", 6840, 2085, 630, 345},
    {ids::Option2, L"Button", L"Save all backups to the same folder as the open documents", 360, 2530, 6615, 255},
    {ids::Frame3, L"Button", L"Options", 120, 3000, 7800, 3455},
    {ids::Option3, L"Button", L"Create new file on backup", 345, 3300, 5415, 255},
    {ids::Option4, L"Button", L"Overwrite old backup file on backup", 345, 3650, 3840, 255},
    {ids::Check5, L"Button", L"Load this software on Windows startup", 360, 4000, 3930, 240},
    {ids::Check8, L"Button", L"Start in system tray", 360, 4350, 2580, 240},
    {ids::Check9, L"Button", L"Skip documents that have not changed since their last backup", 360, 4700, 6615, 240},
    {ids::Label1, L"Static", L"Keep backups for:", 360, 5070, 1900, 255},
    {ids::Check10, L"Button", L"Copy documents through the clipboard (as for Word 2003)", 360, 5420, 6615, 240},
    {ids::Check11, L"Button", L"Tell me when Word closes unsaved work", 360, 5770, 6615, 240},
    {ids::Check12, L"Button", L"Back up when Word closes a changed document", 360, 6120, 6615, 240},
    {ids::ListView1, L"SysListView32", L"", 120, 6560, 7800, 1815},
    {ids::PushButton2, L"Button", L"Backup Save Now (Test)", 120, 8480, 7800, 405},
    {ids::PushButton3, L"Button", L"View History Log", 120, 8990, 3840, 405},
    {ids::PushButton5, L"Button", L"Copy History To Clipboard", 4080, 8990, 3840, 405},
    {ids::PushButton11, L"Button", L"Help", 120, 9500, 3840, 405},
    {ids::PushButton12, L"Button", L"Clear History Log", 4080, 9500, 3840, 405},
    {ids::PushButton13, L"Button", L"Open a Backup...", 120, 10010, 7800, 405},
};

int Px(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

std::wstring FontFace(HWND hwnd, LONG* height, LONG* weight) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
    *height = font.lfHeight;
    *weight = font.lfWeight;
    return font.lfFaceName;
}

// The text a control draws and the font each piece is drawn in, recorded
// through an enhanced metafile that the control paints into.
struct Drawn {
    std::wstring text;
    LOGFONTW font;
};

std::vector<Drawn> DrawnText(HWND control, UINT message, LPARAM flags) {
    HDC screen = GetDC(control);
    RECT bounds{0, 0, 50000, 50000};  // .01 mm: room for the whole control
    HDC metafile = CreateEnhMetaFileW(screen, nullptr, &bounds, nullptr);
    ReleaseDC(control, screen);
    IntersectClipRect(metafile, 0, 0, 2000, 2000);  // the list view paints nothing without a clip box
    SendMessageW(control, message, reinterpret_cast<WPARAM>(metafile), flags);
    HENHMETAFILE recorded = CloseEnhMetaFile(metafile);
    struct State {
        std::map<DWORD, LOGFONTW> fonts;
        LOGFONTW current{};
        std::vector<Drawn> drawn;
    } state;
    EnumEnhMetaFile(nullptr, recorded, [](HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM p) -> int {
        auto& s = *reinterpret_cast<State*>(p);
        if (r->iType == EMR_EXTCREATEFONTINDIRECTW) {
            auto* f = reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(r);
            s.fonts[f->ihFont] = f->elfw.elfLogFont;
        } else if (r->iType == EMR_SELECTOBJECT) {
            auto* select = reinterpret_cast<const EMRSELECTOBJECT*>(r);
            if (s.fonts.count(select->ihObject)) s.current = s.fonts[select->ihObject];
            else if (select->ihObject >= (ENHMETA_STOCK_OBJECT | OEM_FIXED_FONT) &&
                     select->ihObject <= (ENHMETA_STOCK_OBJECT | DEFAULT_GUI_FONT))
                s.current = LOGFONTW{};  // a stock font
        } else if (r->iType == EMR_EXTTEXTOUTW) {
            auto* out = reinterpret_cast<const EMREXTTEXTOUTW*>(r);
            std::wstring text(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(r) + out->emrtext.offString),
                              out->emrtext.nChars);
            if (!text.empty()) s.drawn.push_back({text, s.current});
        }
        return 1;
    }, &state, nullptr);
    DeleteEnhMetaFile(recorded);
    return state.drawn;
}

// The darkness of a text drawn black on white in a font.
long Ink(HFONT font, const std::wstring& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 600, -40, 1, 32, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, bitmap);
    SelectObject(dc, font);
    RECT all{0, 0, 600, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TextOutW(dc, 2, 2, text.c_str(), static_cast<int>(text.size()));
    GdiFlush();
    long ink = 0;
    for (int i = 0; i < 600 * 40; ++i) ink += 255 - (static_cast<const DWORD*>(bits)[i] & 0xFF);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return ink;
}

}  // namespace

TEST_F(FormTest, WindowIsBuiltAsDesigned) {
    Form1& f = Create();
    HWND w = f.hwnd();
    const UINT dpi = DpiOf(w);
    EXPECT_EQ(ClassOf(w), kMainWindowClass);
    EXPECT_FALSE(IsWindowVisible(w)) << "hidden until Form_Load shows it";

    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, Px(8040, dpi));
    EXPECT_EQ(client.bottom, Px(10520, dpi));
    const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "fixed single border";
    EXPECT_FALSE(FindWindowExW(w, nullptr, L"RICHEDIT50W", nullptr)) << "no hidden rich edit: nothing needs one";

    for (const auto& d : kDesign) {
        SCOPED_TRACE(d.caption);
        HWND c = GetDlgItem(w, d.id);
        ASSERT_TRUE(c) << d.id;
        EXPECT_EQ(GetParent(c), w) << "every control is the window's child, so its notifications reach it";
        EXPECT_EQ(_wcsicmp(ClassOf(c).c_str(), d.windowClass), 0) << ClassOf(c).c_str();
        EXPECT_EQ(TextOf(c), d.caption);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, Px(d.left, dpi));
        EXPECT_EQ(r.top, Px(d.top, dpi));
        EXPECT_NEAR(r.right - r.left, Px(d.width, dpi), 1);
        EXPECT_NEAR(r.bottom - r.top, Px(d.height, dpi), 1);
        LONG height = 0, weight = 0;
        EXPECT_EQ(FontFace(c, &height, &weight), L"Arial");
        EXPECT_EQ(weight, FW_BOLD);
        bool push = d.id == ids::PushButton1 || d.id == ids::PushButton2 || d.id == ids::PushButton3 ||
                    d.id == ids::PushButton4 || d.id == ids::PushButton5 || d.id == ids::PushButton11 ||
                    d.id == ids::PushButton12 || d.id == ids::PushButton13;
        EXPECT_EQ(height, -MulDiv(push ? 1125 : 900, static_cast<int>(dpi), 7200));
    }
    // Kinds of the buttons.
    auto kind = [&](int id) { return GetWindowLongPtrW(GetDlgItem(w, id), GWL_STYLE) & BS_TYPEMASK; };
    EXPECT_EQ(kind(ids::Frame1), BS_GROUPBOX);
    EXPECT_EQ(kind(ids::Option3), BS_RADIOBUTTON);
    EXPECT_EQ(kind(ids::Check8), BS_CHECKBOX);
    EXPECT_EQ(kind(ids::PushButton4), BS_PUSHBUTTON);
    EXPECT_TRUE(ListView_GetExtendedListViewStyle(f.ListView1.hwnd()) & LVS_EX_FULLROWSELECT);
    EXPECT_EQ(GetWindowLongPtrW(f.ListView1.hwnd(), GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);

    // Tab order: each tab stop leads to the next one of the design.
    const int tabStops[] = {ids::Option1,      ids::Text1,        ids::PushButton1, ids::Option2,
                            ids::Option3,      ids::Option4,      ids::Check5,      ids::Check8,
                            ids::Check9,       ids::Combo1,       ids::Check10,     ids::Check11,
                            ids::Check12,      ids::PushButton4,
                            ids::PushButton2,  ids::PushButton3,  ids::PushButton5, ids::PushButton11,
                            ids::PushButton12, ids::PushButton13, ids::ListView1};
    HWND at = GetNextDlgTabItem(w, nullptr, FALSE);
    for (int id : tabStops) {
        EXPECT_EQ(GetDlgCtrlID(at), id);
        at = GetNextDlgTabItem(w, at, FALSE);
    }
    EXPECT_EQ(GetDlgCtrlID(at), ids::Option1) << "round again";

    // White backgrounds for the window's frames, option buttons and check boxes.
    HDC dc = CreateCompatibleDC(nullptr);
    for (int id : {ids::Frame2, ids::Option1, ids::Check5}) {
        SetBkColor(dc, RGB(1, 2, 3));
        auto brush = reinterpret_cast<HBRUSH>(SendMessageW(w, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(GetDlgItem(w, id))));
        LOGBRUSH info{};
        ASSERT_TRUE(GetObjectW(brush, sizeof info, &info));
        EXPECT_EQ(info.lbColor, RGB(255, 255, 255));
        EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    }
    DeleteDC(dc);
    EXPECT_EQ(GetDlgCtrlID(f.cSysTray1->Window()), ids::TrayIconWindow);
    EXPECT_FALSE(f.cSysTray1->InTray());
    EXPECT_EQ(f.Timer1.interval(), 0u);
}

TEST_F(FormTest, EveryControlDrawsItsTextInArialBold) {
    Form1& f = Load();
    const int dpi = static_cast<int>(DpiOf(f.hwnd()));
    const LONG text = -MulDiv(900, dpi, 7200), button = -MulDiv(1125, dpi, 7200);
    HWND header = ListView_GetHeader(f.ListView1.hwnd());
    // Double-buffered, the list draws its items into a bitmap of its own.
    ListView_SetExtendedListViewStyleEx(f.ListView1.hwnd(), LVS_EX_DOUBLEBUFFER, 0);
    struct Case {
        HWND control;
        UINT message;
        LONG height;
    } cases[] = {
        {f.Frame1.hwnd(), WM_PRINT, text},      {f.Frame2.hwnd(), WM_PRINT, text},
        {f.Frame3.hwnd(), WM_PRINT, text},      {f.Option1.hwnd(), WM_PRINT, text},
        {f.Option4.hwnd(), WM_PRINT, text},     {f.Check5.hwnd(), WM_PRINT, text},
        {f.Check8.hwnd(), WM_PRINT, text},      {f.Text1.hwnd(), WM_PRINT, text},
        {header, WM_PRINTCLIENT, text},         {f.ListView1.hwnd(), WM_PAINT, text},
        {f.PushButton2.hwnd(), WM_PRINT, button}, {f.PushButton1.hwnd(), WM_PRINT, button},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(GetDlgCtrlID(c.control));
        auto drawn = DrawnText(c.control, c.message, PRF_CLIENT | PRF_NONCLIENT);
        ASSERT_FALSE(drawn.empty()) << "nothing drawn";
        for (const Drawn& d : drawn) {
            SCOPED_TRACE(d.text.c_str());
            EXPECT_STREQ(d.font.lfFaceName, L"Arial");
            EXPECT_EQ(d.font.lfWeight, FW_BOLD);
            EXPECT_EQ(d.font.lfHeight, c.height);
        }
    }

    // And bold is visibly bold at 9 pt here: Wine's anti-aliased text drew
    // it no darker than regular until the bench chose FreeType's full
    // TrueType interpreter, as Windows' rasteriser hints Arial.
    auto font = reinterpret_cast<HFONT>(SendMessageW(f.Frame1.hwnd(), WM_GETFONT, 0, 0));
    LOGFONTW regular{};
    GetObjectW(font, sizeof regular, &regular);
    regular.lfWeight = FW_NORMAL;
    HFONT regularFont = CreateFontIndirectW(&regular);
    const std::wstring caption = L"Where would you like to backup all open MS Word documents?";
    const double ratio = static_cast<double>(Ink(font, caption)) / Ink(regularFont, caption);
    DeleteObject(regularFont);
    EXPECT_GT(ratio, 1.35) << "bold draws with only " << ratio << " times the ink of regular";
}

TEST_F(FormTest, SkinFileRecoloursTheWindow) {
    const fs::path folder = fs::path(ProgramFolder()) / "x";
    ASSERT_FALSE(fs::exists(folder / "o.cjs"));
    fs::create_directories(folder);
    struct Remove {
        fs::path folder;
        ~Remove() {
            std::error_code ignored;
            fs::remove(folder / "o.cjs", ignored);
            fs::remove(folder, ignored);
        }
    } remove{folder};
    WriteFile(folder / "o.cjs", "; grey with navy text\r\nFace=D4D0C8\r\nText=000080\r\n");
    Form1& f = Load();
    EXPECT_TRUE(rec.boxes.empty());
    HDC dc = CreateCompatibleDC(nullptr);
    for (int id : {ids::Frame1, ids::Option2, ids::Check8}) {
        SendMessageW(f.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(GetDlgItem(f.hwnd(), id)));
        EXPECT_EQ(GetBkColor(dc), RGB(0xD4, 0xD0, 0xC8)) << id;
        EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0x80)) << id;
    }
    DeleteDC(dc);
    EXPECT_EQ(f.BackColor(), GetSysColor(COLOR_BTNFACE));
}
