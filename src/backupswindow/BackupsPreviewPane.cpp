// The Backups window's preview of the selected backup: against the one made
// after it, or, for the newest, against the document as Word holds it now.
// Made by a PreviewWork; the window's thread only asks for it and shows it.
#include "backupswindow/BackupsWindow.h"

#include "common/Failure.h"

using namespace backups;

void BackupsWindow::Open() {
    if (!texts_) texts_ = std::make_shared<BackupTexts>();
    if (!preview_) {
        preview_ = std::make_unique<BackupPreview>(hwnd_, kPreview);
        SendMessageW(preview_->hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        SetWindowPos(preview_->hwnd(), GetDlgItem(hwnd_, kBackups), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    previewed_.clear();
    Layout();
}

// Closing hides the window; the texts read and the preview's library go.
void BackupsWindow::Close() {
    ShowWindow(hwnd_, SW_HIDE);
    search_.reset();
    previewWork_.reset();
    texts_.reset();
    preview_.reset();
    previewed_.clear();
    Layout();
}

void BackupsWindow::UpdatePreview() {
    if (!preview_ || !texts_) return;
    const CatalogueDocument* d = backupDocument();
    const BackupFile* b = backup();
    if (!d || !b) {
        previewWork_.reset();
        preview_->Abandon();
        if (!previewed_.empty()) preview_->Show(PreviewNote(L""));
        previewed_.clear();
        return;
    }
    const BackupFile* next = nullptr;
    for (const BackupFile& other : d->backups)
        if (other.written > b->written && (!next || other.written < next->written)) next = &other;
    PreviewRequest request{{d->path(*b), b->written, b->size}, std::nullopt, Listed(*d),
                           texts_->fold().query(searchWords_)};
    if (next) request.next = PreviewSource{d->path(*next), next->written, next->size};
    const std::wstring key = request.backup.path + L'\n' + (next ? request.next->path : L"Word") + L'\n' +
                             request.query;
    if (key == previewed_) return;
    previewed_ = key;
    previewWork_.reset();  // the older selection's, if it is still being made
    preview_->Abandon();
    try {
        previewWork_ = std::make_unique<PreviewWork>(texts_, std::move(request), hwnd_, kPreviewReady);
    } catch (const Failure& failure) {
        preview_->Show(PreviewNote(failure.description()));
    }
}

void BackupsWindow::OnPreviewReady() {
    if (!previewWork_ || !preview_) return;  // posted by a preview abandoned since
    if (std::optional<PreviewContent> content = previewWork_->take()) {
        previewWork_.reset();
        preview_->Show(std::move(*content));
        if (preview_->showing()) PostMessageW(hwnd_, kPreviewMore, 0, 0);
    }
}

// A piece at a time, each from a message of its own: the window answers
// between two.
void BackupsWindow::OnPreviewMore() {
    if (preview_ && preview_->ShowMore()) PostMessageW(hwnd_, kPreviewMore, 0, 0);
}
