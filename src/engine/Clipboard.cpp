#include "engine/Clipboard.h"

#include "common/ClipboardLock.h"
#include "common/Failure.h"

#include <cstring>

namespace {
// Taking and putting back the user's content wait longer than a copy does:
// without them the run must not touch the clipboard at all.
constexpr auto kSnapshotBound = std::chrono::seconds(3);
}  // namespace

struct ClipboardSnapshot::Item {
    UINT format = 0;
    HANDLE data = nullptr;  // owned until handed to the clipboard
    void release() {
        if (!data) return;
        switch (format) {
        case CF_ENHMETAFILE: DeleteEnhMetaFile(static_cast<HENHMETAFILE>(data)); break;
        case CF_BITMAP: DeleteObject(data); break;
        case CF_METAFILEPICT: {
            auto* pict = static_cast<METAFILEPICT*>(GlobalLock(data));
            if (pict) DeleteMetaFile(pict->hMF);
            GlobalUnlock(data);
            GlobalFree(data);
            break;
        }
        default: GlobalFree(data); break;
        }
        data = nullptr;
    }
    ~Item() { release(); }
};

namespace {

HGLOBAL CopyGlobal(HANDLE source) {
    SIZE_T size = GlobalSize(source);
    if (!size) return nullptr;  // not global memory: a handle we cannot copy
    const void* from = GlobalLock(source);
    if (!from) return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (copy) {
        std::memcpy(GlobalLock(copy), from, size);
        GlobalUnlock(copy);
    }
    GlobalUnlock(source);
    return copy;
}

HANDLE CopyMetafilePicture(HANDLE source) {
    auto* from = static_cast<METAFILEPICT*>(GlobalLock(source));
    if (!from) return nullptr;
    METAFILEPICT pict = *from;
    GlobalUnlock(source);
    pict.hMF = CopyMetaFileW(pict.hMF, nullptr);
    if (!pict.hMF) return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, sizeof pict);
    if (!copy) {
        DeleteMetaFile(pict.hMF);
        return nullptr;
    }
    *static_cast<METAFILEPICT*>(GlobalLock(copy)) = pict;
    GlobalUnlock(copy);
    return copy;
}

bool IsDropped(UINT format) {
    return format == CF_PALETTE || format == CF_OWNERDISPLAY || format == CF_DSPBITMAP ||
           format == CF_DSPENHMETAFILE || format == CF_DSPMETAFILEPICT ||
           (format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST) || (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST);
}

}  // namespace

ClipboardSnapshot::ClipboardSnapshot() = default;
ClipboardSnapshot::~ClipboardSnapshot() = default;
ClipboardSnapshot::ClipboardSnapshot(ClipboardSnapshot&&) noexcept = default;
ClipboardSnapshot& ClipboardSnapshot::operator=(ClipboardSnapshot&&) noexcept = default;

ClipboardSnapshot ClipboardSnapshot::Take(HWND owner) {
    ClipboardSnapshot snapshot;
    ClipboardLock lock(owner, kSnapshotBound);
    bool hasDib = IsClipboardFormatAvailable(CF_DIB) || IsClipboardFormatAvailable(CF_DIBV5);
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        if (IsDropped(format) || (format == CF_BITMAP && hasDib)) continue;
        HANDLE source = GetClipboardData(format);
        if (!source) continue;
        HANDLE copy = nullptr;
        switch (format) {
        case CF_ENHMETAFILE: copy = CopyEnhMetaFileW(static_cast<HENHMETAFILE>(source), nullptr); break;
        case CF_METAFILEPICT: copy = CopyMetafilePicture(source); break;
        case CF_BITMAP: copy = CopyImage(source, IMAGE_BITMAP, 0, 0, 0); break;
        default: copy = CopyGlobal(source); break;
        }
        if (!copy) continue;
        auto item = std::make_unique<Item>();
        item->format = format;
        item->data = copy;
        snapshot.items_.push_back(std::move(item));
    }
    return snapshot;
}

void ClipboardSnapshot::restore(HWND owner) const {
    ClipboardLock lock(owner, kSnapshotBound);
    if (!EmptyClipboard()) throw Failure::FromLastError();
    for (const auto& item : items_) {
        // Hand over a copy: the snapshot stays valid for another restore.
        HANDLE copy = nullptr;
        switch (item->format) {
        case CF_ENHMETAFILE: copy = CopyEnhMetaFileW(static_cast<HENHMETAFILE>(item->data), nullptr); break;
        case CF_METAFILEPICT: copy = CopyMetafilePicture(item->data); break;
        case CF_BITMAP: copy = CopyImage(item->data, IMAGE_BITMAP, 0, 0, 0); break;
        default: copy = CopyGlobal(item->data); break;
        }
        if (copy && !SetClipboardData(item->format, copy)) {
            Item unused;
            unused.format = item->format;
            unused.data = copy;
        }
    }
}

// ---- RunClipboard ------------------------------------------------------------

namespace {
constexpr wchar_t kListenerClass[] = L"OrvelleRunClipboard";

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    if (window) GetWindowThreadProcessId(window, &pid);
    return pid;
}
}  // namespace

// The window lives on a thread that does nothing but answer messages:
// Windows sends WM_DESTROYCLIPBOARD with a time-out and skips a thread that
// has not looked at its messages for a while (the run's thread spends
// seconds in calls to Word).
RunClipboard::RunClipboard(HWND owner) : owner_(owner) {
    struct Start {
        RunClipboard* self;
        UniqueHandle created{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    } start{this};
    if (!start.created) return;  // no listener: the run's own window empties
    listenerThread_.reset(CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            auto* start = static_cast<Start*>(parameter);
            WNDCLASSW wc{};
            wc.lpfnWndProc = Listen;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kListenerClass;
            RegisterClassW(&wc);  // fails harmlessly once registered
            HWND window =
                CreateWindowExW(0, kListenerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, start->self);
            start->self->listener_ = window;
            SetEvent(start->created.get());  // start is gone after this
            MSG msg;
            while (window && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            return 0;
        },
        &start, 0, nullptr));
    if (listenerThread_) WaitForSingleObject(start.created.get(), INFINITE);
}

RunClipboard::~RunClipboard() {
    if (listener_) PostMessageW(listener_, WM_CLOSE, 0, 0);
    if (listenerThread_) WaitForSingleObject(listenerThread_.get(), INFINITE);
}

LRESULT CALLBACK RunClipboard::Listen(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RunClipboard*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Sent by EmptyClipboard in the emptying thread's call, while that
    // thread holds the clipboard open with its own window; the run's own
    // emptying does not count.
    if (message == WM_DESTROYCLIPBOARD && self) {
        DWORD none = 0, emptier = ProcessOf(GetOpenClipboardWindow());
        if (emptier != GetCurrentProcessId()) self->copier_.compare_exchange_strong(none, emptier);
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

void RunClipboard::takeSnapshot() { kept_ = ClipboardSnapshot::Take(owner_); }

bool RunClipboard::writtenByOthers() const { return touched_ && !holdsCopy(); }

void RunClipboard::empty() {
    if (writtenByOthers()) kept_ = ClipboardSnapshot::Take(owner_);
    HWND emptier = listener_ ? listener_ : owner_;
    ClipboardLock lock(emptier);
    if (!EmptyClipboard()) throw Failure::FromLastError();
    touched_ = true;
    copier_ = 0;
    copyOwner_ = emptier;
}

bool RunClipboard::markCopied() {
    HWND owner = GetClipboardOwner();
    // Should the message come only after the emptier let go, the process an
    // earlier copy of this run proved to be Word's stands in for it.
    const DWORD process = ProcessOf(owner), emptier = copier_, copier = emptier ? emptier : wordProcess_;
    if (!process || process != copier) return false;
    wordProcess_ = process;
    copyOwner_ = owner;
    return true;
}

bool RunClipboard::holdsCopy() const { return GetClipboardOwner() == copyOwner_; }

void RunClipboard::restore() {
    if (!touched_ || !kept_ || writtenByOthers()) return;
    kept_->restore(owner_);
    touched_ = false;
}
