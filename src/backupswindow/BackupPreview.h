#pragma once
// The preview beside the backups list: a rich edit control (msftedit.dll,
// loaded from the system folder for as long as the pane exists) showing a
// backup's text paragraph by paragraph, the words deleted since struck
// through in red, the words added since underlined in green, and the
// words searched for on a yellow ground, scrolled to the first of them.
#include "backupswindow/TextFold.h"
#include "backupswindow/WordDiff.h"

#include <windows.h>

#include <string>
#include <vector>

// What the pane shows, made off the window's thread: the RTF, in pieces of
// some thousand characters each (the window answers between two), and where
// the caret goes (the first match).
struct PreviewContent {
    std::vector<std::string> pieces;
    LONG caret = 0;
};
// The merged paragraphs, with every occurrence of query (folded; empty for
// none) marked; a long text by its excerpt.
PreviewContent PreviewOf(const std::vector<DiffParagraph>& paragraphs, const TextFold& fold,
                         const std::wstring& query);
// A line in place of a text.
PreviewContent PreviewNote(const std::wstring& note);

class BackupPreview {
public:
    // Throws Failure when the control cannot be made.
    BackupPreview(HWND parent, int id);
    ~BackupPreview();  // the control first, then the library
    BackupPreview(const BackupPreview&) = delete;
    BackupPreview& operator=(const BackupPreview&) = delete;

    HWND hwnd() const { return edit_; }
    // Shows the first piece; ShowMore the next one, answering whether more
    // are to come.
    void Show(PreviewContent content);
    bool ShowMore();
    bool showing() const { return !shown_.pieces.empty(); }
    void Abandon() { shown_ = {}; }  // the pieces not in yet

private:
    void Make();
    void Stream(const std::string& rtf);

    HWND parent_;
    int id_;
    HMODULE library_ = nullptr;
    HWND edit_ = nullptr;
    PreviewContent shown_;  // until its last piece is in
    size_t next_ = 0;
};

// Up to this many characters a text is shown whole, and an excerpt about as
// long; streamed into the control this many at a time.
inline constexpr size_t kPreviewWhole = 40000, kPreviewPiece = 4000;
// The paragraphs shown of a longer text: those with changes or matches
// (ranges as PreviewRtf's), with one paragraph around each, and a line in
// notes for each stretch left out.
std::vector<DiffParagraph> PreviewExcerpt(const std::vector<DiffParagraph>& paragraphs,
                                          const std::vector<std::pair<size_t, size_t>>& matches,
                                          std::vector<std::wstring>& notes);

// The RTF of the merged paragraphs, matches (ranges of the paragraphs'
// text joined with '\n') highlighted, in pieces of whole paragraphs.
std::vector<std::string> PreviewRtf(const std::vector<DiffParagraph>& paragraphs,
                       const std::vector<std::pair<size_t, size_t>>& matches);
