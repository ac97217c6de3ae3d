#pragma once
// The system clipboard as the backup run needs it: emptied before each copy,
// checked after each paste, and the user's own content put back when the run
// ends.
#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

// What the user had on the clipboard.  Formats held in global memory (text,
// Unicode text, Rich Text Format, HTML, device-independent bitmaps, file
// lists and every other registered format) are copied byte for byte;
// enhanced metafiles, metafile pictures and bitmaps without a DIB get copies
// of their own.  Palettes, owner-display, private and GDI-object formats are
// dropped, and so are delayed-rendered formats whose owner renders nothing.
class ClipboardSnapshot {
public:
    // Both open the clipboard through a ClipboardLock with the given owner.
    static ClipboardSnapshot Take(HWND owner);
    void restore(HWND owner) const;
    ~ClipboardSnapshot();
    ClipboardSnapshot(ClipboardSnapshot&&) noexcept;
    ClipboardSnapshot& operator=(ClipboardSnapshot&&) noexcept;

    struct Item;

private:
    ClipboardSnapshot();
    std::vector<std::unique_ptr<Item>> items_;
};

// The clipboard as one backup run shares it with the user and every other
// program.  Word's copy makes Word's window the clipboard's owner; a write by
// anyone else changes the owner, and that is how the run tells its own copy
// from a copy made meanwhile.
class RunClipboard {
public:
    // owner: a window of ours, so that the run's writes are allowed.
    explicit RunClipboard(HWND owner) : owner_(owner) {}

    // What the user has on the clipboard, before the run changes anything.
    void takeSnapshot();
    // Before each copy.  What somebody else wrote since the run's last copy
    // is kept in place of the older snapshot; then the clipboard is emptied,
    // so that only the coming copy can fill it.
    void empty();
    // After the copy has arrived: this content is the run's.
    void markCopied();
    // Whether the clipboard still holds the content marked last.
    bool holdsCopy() const;
    // At the end: the kept content goes back, unless somebody else has
    // written after the run's last copy (theirs is newer).
    void restore();

private:
    bool writtenByOthers() const;

    HWND owner_;
    std::optional<ClipboardSnapshot> kept_;
    bool touched_ = false;
    HWND copyOwner_ = nullptr;
    DWORD copySequence_ = 0;
};
