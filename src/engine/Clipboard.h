#pragma once
// The system clipboard as the backup run needs it: opened patiently when
// another program holds it, emptied before each copy, and the user's own
// content put back when the run ends.
#include <windows.h>

#include <memory>
#include <vector>

// Opens the clipboard, retrying for about a second while another program
// holds it.  Fails with the system's message when it stays locked.
void OpenClipboardPatiently();
void EmptyClipboardPatiently();

// What the user had on the clipboard.  Formats held in global memory (text,
// Unicode text, Rich Text Format, HTML, device-independent bitmaps, file
// lists and every other registered format) are copied byte for byte;
// enhanced metafiles, metafile pictures and bitmaps without a DIB get copies
// of their own.  Palettes, owner-display, private and GDI-object formats are
// dropped, and so are delayed-rendered formats whose owner renders nothing.
class ClipboardSnapshot {
public:
    static ClipboardSnapshot Take();
    void restore() const;
    ~ClipboardSnapshot();
    ClipboardSnapshot(ClipboardSnapshot&&) noexcept;
    ClipboardSnapshot& operator=(ClipboardSnapshot&&) noexcept;

    struct Item;

private:
    ClipboardSnapshot();
    std::vector<std::unique_ptr<Item>> items_;
};
