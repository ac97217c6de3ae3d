#pragma once
// The optional skin: a file "x\o.cjs" beside the program gives the window
// another look.  The file is plain text, one "Key=RRGGBB" line per colour:
//
//     Face=D4D0C8      background of the window and its frames and buttons
//     Text=000080      text colour of frames, check boxes and option buttons
//
// Lines that are empty or start with ';' are ignored.
#include "common/Automation.h"

#include <windows.h>

#include <optional>
#include <string>

enum class ControlKind { OptionButton, CheckBox, Frame, Label, Other };

// What ApplySkin needs of the window it skins.
class SkinnableWindow {
public:
    virtual ~SkinnableWindow() = default;
    virtual HWND handle() const = 0;
    virtual void setBackColor(COLORREF color) = 0;
    virtual int controlCount() const = 0;
    virtual ControlKind controlKind(int index) const = 0;
    virtual void setControlBackColor(int index, COLORREF color) = 0;
    // The window's skin component, reached by late binding.
    virtual Dispatch skinFramework() = 0;
};

// The colours that a skin applied to a window; the window paints with them.
struct SkinColors {
    std::optional<COLORREF> face;
    std::optional<COLORREF> text;
};
SkinColors SkinColorsOf(HWND window);
// A solid brush of the colour, made once and kept for the process: the window
// asks for one on every paint of a control and of its background.
HBRUSH SolidBrushFor(COLORREF color);

// The skin component: an automation object with the dispatch identifiers
// 1 (option flags), 2 (load skin file), 3 (apply to window), 5 (skin child
// controls too) and 10 (skin text colours too).
Dispatch CreateSkinFramework();

std::wstring SkinFilePath();
void ApplySkin(SkinnableWindow& window);
