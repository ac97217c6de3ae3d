#pragma once
// Form1's controls as designed: one row per control.
#include "mainwindow/ControlIds.h"
#include "mainwindow/Controls.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace form1 {

inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
inline constexpr int kClientWidthTwips = 8040, kClientHeightTwips = 8960;
inline constexpr int kColumnWidthTwips = 6400;

// PushButton4's two captions.
inline constexpr wchar_t kTurnOn[] = L"Turn On Backup Save";
inline constexpr wchar_t kTurnOff[] = L"Turn Off Backup Save";

enum class Kind { PushButton, Frame, ProgressBar, OptionButton, TextBox, CheckBox, ListView, RichTextBox, Label, ComboBox };

struct ControlDesign {
    int id;
    Kind kind;
    const wchar_t* caption;
    Twips rect;  // relative to the frame when inside one
    int frame;   // id of the containing frame, 0 for the window
};

// The window as designed, in the design order (the order ApplySkin walks).
inline constexpr ControlDesign kControls[] = {
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
inline constexpr int kTabOrder[] = {
    ids::Frame1,      ids::Option1,     ids::Text1,       ids::PushButton1,  ids::Option2,
    ids::Option3,     ids::Option4,     ids::Check5,      ids::Check8,       ids::Check9,
    ids::Label1,      ids::Combo1,      ids::PushButton4,
    ids::PushButton2, ids::PushButton3, ids::PushButton5, ids::PushButton11, ids::PushButton12,
    ids::Frame3,      ids::ListView1,   ids::Frame2,      ids::ProgressBar1, ids::RichTextBox1,
};

inline constexpr int kPushButtons[] = {ids::PushButton1, ids::PushButton2,  ids::PushButton3, ids::PushButton4,
                                ids::PushButton5, ids::PushButton11, ids::PushButton12};
// Controls whose mouse-move handler sets the default pointer (0 = the window).
inline constexpr int kDefaultPointerAreas[] = {0, ids::Frame1, ids::Frame2, ids::Frame3, ids::Text1, ids::ListView1};

inline const ControlDesign& DesignOf(int id) {
    for (const auto& design : kControls)
        if (design.id == id) return design;
    throw Failure::InvalidArgument();
}

inline bool Contains(const auto& list, int id) { return std::find(std::begin(list), std::end(list), id) != std::end(list); }

}  // namespace form1
