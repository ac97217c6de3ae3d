#pragma once
// The preview's content, made on a thread of its own: the backup read
// (inflated, decrypted), the text it is compared with read too (the next
// backup's, or for the newest the package of the document open in Word
// now, through WordOpenXML), the difference taken and its RTF written.  The
// window only shows what is ready.  A newer selection abandons an older
// preview, which stops at its next stage and posts nothing.
#include "backupswindow/BackupActions.h"
#include "backupswindow/BackupPreview.h"
#include "backupswindow/BackupText.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct PreviewSource {
    std::wstring path;
    std::uint64_t written = 0, size = 0;
};

struct PreviewRequest {
    PreviewSource backup;
    std::optional<PreviewSource> next;  // none: the newest, compared with Word's
    ListedDocument open;                // the document to ask Word for
    std::wstring query;                 // folded; empty for none
};

class PreviewWork {
public:
    // Starts at once; posts message to window once, when the content is
    // ready.  Throws Failure when no thread could be started.
    PreviewWork(std::shared_ptr<BackupTexts> texts, PreviewRequest request, HWND window, UINT message);
    // Abandons it without waiting.
    ~PreviewWork();
    PreviewWork(const PreviewWork&) = delete;
    PreviewWork& operator=(const PreviewWork&) = delete;

    // The content once it is made; none before.
    std::optional<PreviewContent> take();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// What the preview of request shows, made on the calling thread; stop is
// looked at between stages (then the answer is empty).
PreviewContent MakePreview(BackupTexts& texts, const PreviewRequest& request, const std::atomic<bool>& stop);
