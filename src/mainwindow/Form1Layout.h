#pragma once
// Form1's controls as designed, one row each: the window creates, places,
// wires and skins its controls from this table and nowhere else.
#include "mainwindow/ControlIds.h"
#include "mainwindow/Controls.h"
#include "mainwindow/Form1.h"

#include <windows.h>

namespace form1 {

inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
inline constexpr int kClientWidthTwips = 8040, kClientHeightTwips = 10520;
inline constexpr int kColumnWidthTwips = 6400;

// PushButton4's two captions.
inline constexpr wchar_t kTurnOn[] = L"Turn On Backup Save";
inline constexpr wchar_t kTurnOff[] = L"Turn Off Backup Save";

enum class Kind {
    PushButton, Frame, ProgressBar, OptionButton, TextBox, CheckBox, ListView, Label, ComboBox
};

// What the control's mouse-move handler does with the window's pointer.
enum class MouseMove { Keep, Custom, Default };

// One event of a control, the handler it runs and the handler's name, under
// which a failure of a user's event is reported.
struct EventWiring {
    ControlEvent event;
    void (Form1::*handler)();
    const wchar_t* name;
};

// The Form1 member that is the control.
template <auto member>
inline constexpr Control& (*Member)(Form1&) = [](Form1& form) -> Control& { return form.*member; };

struct ControlDesign {
    int id;
    Kind kind;
    const wchar_t* caption;
    Twips rect;  // relative to the frame when inside one
    int frame;   // id of the containing frame, 0 for the window
    Control& (*control)(Form1&);
    MouseMove mouseMove;
    EventWiring events[2];
};

// The window as designed, in tab order.  Tab navigation follows the window
// order, so the controls are created in this order; the frames, which take
// no focus, then go to the bottom so that they never paint over the
// controls placed on them.
inline constexpr ControlDesign kControls[] = {
    {ids::Frame1, Kind::Frame, L"Where would you like to backup all open MS Word documents?",
     {120, 1530, 7800, 1400}, 0, Member<&Form1::Frame1>, MouseMove::Default},
    {ids::Option1, Kind::OptionButton, L"Save all backups to this location:", {240, 300, 3840, 255}, ids::Frame1,
     Member<&Form1::Option1>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Option1_Click, L"Option1_Click"}}},
    {ids::Text1, Kind::TextBox, L"Text1", {480, 550, 6135, 345}, ids::Frame1, Member<&Form1::Text1>,
     MouseMove::Default,
     {{ControlEvent::Change, &Form1::Text1_Change, L"Text1_Change"},
      {ControlEvent::GotFocus, &Form1::Text1_GotFocus, L"Text1_GotFocus"}}},
    {ids::PushButton1, Kind::PushButton, L"...", {6720, 555, 630, 345}, ids::Frame1, Member<&Form1::PushButton1>,
     MouseMove::Custom, {{ControlEvent::Click, &Form1::PushButton1_Click, L"PushButton1_Click"}}},
    {ids::Option2, Kind::OptionButton, L"Save all backups to the same folder as the open documents",
     {240, 1000, 6615, 255}, ids::Frame1, Member<&Form1::Option2>, MouseMove::Keep,
     {{ControlEvent::Click, &Form1::Option2_Click, L"Option2_Click"}}},
    {ids::Option3, Kind::OptionButton, L"Create new file on backup", {225, 300, 5415, 255}, ids::Frame3,
     Member<&Form1::Option3>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Option3_Click, L"Option3_Click"}}},
    {ids::Option4, Kind::OptionButton, L"Overwrite old backup file on backup", {225, 650, 3840, 255}, ids::Frame3,
     Member<&Form1::Option4>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Option4_Click, L"Option4_Click"}}},
    {ids::Check5, Kind::CheckBox, L"Load this software on Windows startup", {240, 1000, 3930, 240}, ids::Frame3,
     Member<&Form1::Check5>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Check5_Click, L"Check5_Click"}}},
    {ids::Check8, Kind::CheckBox, L"Start in system tray", {240, 1350, 2580, 240}, ids::Frame3,
     Member<&Form1::Check8>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Check8_Click, L"Check8_Click"}}},
    {ids::Check9, Kind::CheckBox, L"Skip documents that have not changed since their last backup",
     {240, 1700, 6615, 240}, ids::Frame3, Member<&Form1::Check9>, MouseMove::Keep,
     {{ControlEvent::Click, &Form1::Check9_Click, L"Check9_Click"}}},
    {ids::Label1, Kind::Label, L"Keep backups for:", {240, 2070, 1900, 255}, ids::Frame3, Member<&Form1::Label1>,
     MouseMove::Keep},
    {ids::Combo1, Kind::ComboBox, L"", {2160, 2010, 4695, 315}, ids::Frame3, Member<&Form1::Combo1>,
     MouseMove::Keep, {{ControlEvent::Change, &Form1::Combo1_Change, L"Combo1_Change"}}},
    {ids::Check10, Kind::CheckBox, L"Copy documents through the clipboard (as for Word 2003)",
     {240, 2420, 6615, 240}, ids::Frame3, Member<&Form1::Check10>, MouseMove::Keep,
     {{ControlEvent::Click, &Form1::Check10_Click, L"Check10_Click"}}},
    {ids::Check11, Kind::CheckBox, L"Tell me when Word closes unsaved work", {240, 2770, 6615, 240}, ids::Frame3,
     Member<&Form1::Check11>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Check11_Click, L"Check11_Click"}}},
    {ids::Check12, Kind::CheckBox, L"Back up when Word closes a changed document", {240, 3120, 6615, 240}, ids::Frame3,
     Member<&Form1::Check12>, MouseMove::Keep, {{ControlEvent::Click, &Form1::Check12_Click, L"Check12_Click"}}},
    {ids::PushButton4, Kind::PushButton, L"Turn On Backup Save", {120, 120, 7800, 405}, 0,
     Member<&Form1::PushButton4>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton4_Click, L"PushButton4_Click"}}},
    {ids::PushButton2, Kind::PushButton, L"Backup Save Now (Test)", {120, 8480, 7800, 405}, 0,
     Member<&Form1::PushButton2>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton2_Click, L"PushButton2_Click"}}},
    {ids::PushButton3, Kind::PushButton, L"View History Log", {120, 8990, 3840, 405}, 0,
     Member<&Form1::PushButton3>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton3_Click, L"PushButton3_Click"}}},
    {ids::PushButton5, Kind::PushButton, L"Copy History To Clipboard", {4080, 8990, 3840, 405}, 0,
     Member<&Form1::PushButton5>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton5_Click, L"PushButton5_Click"}}},
    {ids::PushButton11, Kind::PushButton, L"Help", {120, 9500, 3840, 405}, 0, Member<&Form1::PushButton11>,
     MouseMove::Custom, {{ControlEvent::Click, &Form1::PushButton11_Click, L"PushButton11_Click"}}},
    {ids::PushButton12, Kind::PushButton, L"Clear History Log", {4080, 9500, 3840, 405}, 0,
     Member<&Form1::PushButton12>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton12_Click, L"PushButton12_Click"}}},
    // A row of its own below the history buttons: the client area grew by 510 twips.
    {ids::PushButton13, Kind::PushButton, L"Open a Backup...", {120, 10010, 7800, 405}, 0,
     Member<&Form1::PushButton13>, MouseMove::Custom,
     {{ControlEvent::Click, &Form1::PushButton13_Click, L"PushButton13_Click"}}},
    // The options grew by the two housekeeping choices, the clipboard choice
    // the closed-unsaved and the last-moment choices below the others;
    // everything beneath moved down by as much (1700 twips).
    {ids::Frame3, Kind::Frame, L"Options", {120, 3000, 7800, 3455}, 0, Member<&Form1::Frame3>, MouseMove::Default},
    {ids::ListView1, Kind::ListView, L"", {120, 6560, 7800, 1815}, 0, Member<&Form1::ListView1>, MouseMove::Default,
     {{ControlEvent::Click, &Form1::ListView1_Click, L"ListView1_Click"}}},
    {ids::Frame2, Kind::Frame, L"On. Next backup save will occur in", {120, 570, 7800, 900}, 0,
     Member<&Form1::Frame2>, MouseMove::Default},
    {ids::ProgressBar1, Kind::ProgressBar, L"", {240, 300, 7320, 405}, ids::Frame2, Member<&Form1::ProgressBar1>,
     MouseMove::Keep},
};

// The row of a control, or null for an id that names none.
inline const ControlDesign* DesignOf(int id) {
    for (const auto& design : kControls)
        if (design.id == id) return &design;
    return nullptr;
}

inline bool IsPushButton(int id) {
    const ControlDesign* design = DesignOf(id);
    return design && design->kind == Kind::PushButton;
}

}  // namespace form1
