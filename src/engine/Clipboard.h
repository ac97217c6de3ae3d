#pragma once
// The system clipboard as the backup run needs it: emptied before each copy,
// checked after each paste, and the user's own content put back when the run
// ends.
#include "common/Handle.h"

#include <windows.h>

#include <atomic>
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
// program.  Whose content the clipboard holds is told from what happened to
// it: the run empties it with a window of its own, so the copy that follows
// must empty it again, and that window learns which process did (Windows
// sends the owner WM_DESTROYCLIPBOARD while the emptier holds the clipboard
// open).  Content whose owner belongs to another process came from somebody
// else, however soon after Word's copy it arrived.
class RunClipboard {
public:
    // owner: a window of ours that the user's content is put back with.
    explicit RunClipboard(HWND owner);
    ~RunClipboard();
    RunClipboard(const RunClipboard&) = delete;
    RunClipboard& operator=(const RunClipboard&) = delete;

    // What the user has on the clipboard, before the run changes anything.
    void takeSnapshot();
    // Before each copy.  What somebody else wrote since the run's last copy
    // is kept in place of the older snapshot; then the clipboard is emptied,
    // so that only the coming copy can fill it.
    void empty();
    // After the copy has arrived: true, and this content is the run's, when
    // it was written by the process that emptied the clipboard first since
    // empty() (unseen: the process of the run's last copy); false when
    // another program wrote last.
    bool markCopied();
    // Whether the clipboard still holds the content marked last.
    bool holdsCopy() const;
    // At the end: the kept content goes back, unless somebody else has
    // written after the run's last copy (theirs is newer).
    void restore();

private:
    static LRESULT CALLBACK Listen(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool writtenByOthers() const;

    HWND owner_;
    HWND listener_ = nullptr;  // empties the clipboard, and so hears who empties it next
    UniqueHandle listenerThread_;
    std::atomic<DWORD> copier_{0};  // that process
    DWORD wordProcess_ = 0;    // the process whose copy the run last took
    std::optional<ClipboardSnapshot> kept_;
    bool touched_ = false;
    HWND copyOwner_ = nullptr;  // the window whose content the run holds
};
