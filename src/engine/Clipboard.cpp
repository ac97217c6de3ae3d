#include "Clipboard.h"

#include "Failure.h"

#include <cstring>

void OpenClipboardPatiently() {
    for (int attempt = 0;; ++attempt) {
        if (OpenClipboard(nullptr)) return;
        if (attempt == 50) throw Failure::FromLastError();
        Sleep(20);
    }
}

void EmptyClipboardPatiently() {
    OpenClipboardPatiently();
    BOOL emptied = EmptyClipboard();
    DWORD error = GetLastError();
    CloseClipboard();
    if (!emptied) throw Failure::FromWin32(error);
}

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

ClipboardSnapshot ClipboardSnapshot::Take() {
    ClipboardSnapshot snapshot;
    OpenClipboardPatiently();
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
    CloseClipboard();
    return snapshot;
}

void ClipboardSnapshot::restore() const {
    OpenClipboardPatiently();
    EmptyClipboard();
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
    CloseClipboard();
}
