#pragma once
// "Orvelle: Backups": the documents that have backups, then the selected
// document's backups, and what can be done with one: open a copy, compare
// it with the document open in Word, show it in its folder, delete it.
#include "common/Handle.h"
#include "backupswindow/BackupCatalogue.h"
#include "backupswindow/BackupPreview.h"
#include "backupswindow/BackupSearch.h"
#include "backupswindow/CatalogueLoad.h"
#include "backupswindow/PreviewWork.h"
#include "engine/BackupJournal.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace backups {

inline constexpr wchar_t kWindowClass[] = L"OrvelleBackupsWindow";
inline constexpr wchar_t kCaption[] = L"Orvelle: Backups";

// Control ids; the buttons' commands are also the context menu's.
enum Id : int {
    kFilterLabel = 2001,
    kFilter,
    kDocumentsLabel,
    kDocuments,
    kBackupsLabel,
    kBackups,
    kSearchLabel,
    kSearch,
    kAllDocuments,
    kPreview,
    kStatus,
    kOpenCopy = IDOK,  // the default: Enter
    kCompare = 2101,
    kShowInFolder,
    kDelete,
    kClose = IDCANCEL,  // Esc
};

// The documents list's label, and while the backups are being read.
inline constexpr wchar_t kDocumentsText[] = L"&Documents:";
inline constexpr wchar_t kReadingDocumentsText[] = L"&Documents (reading the backup folders...):";

inline constexpr wchar_t kBackupsText[] = L"&Backups of the selected document, newest first:";
inline constexpr wchar_t kFoundBackupsText[] = L"&Backups that hold the words, newest first:";
inline constexpr wchar_t kSearchText[] = L"Find text in backups:";
inline constexpr wchar_t kAllDocumentsText[] = L"All documents";
// A search's row's Change column, for a backup that holds no text to search.
inline constexpr wchar_t kClassicNotSearched[] = L"not searched (Word 97-2003)";
inline constexpr wchar_t kUnreadableNotSearched[] = L"not searched (unreadable)";

// The texts of a backup's row.
std::wstring WhenText(std::uint64_t written, std::uint64_t now);  // FILETIME ticks (UTC)
// After the When text of a backup encrypted for the Windows user.
inline constexpr wchar_t kProtectedMark[] = L", password-protected";
// Said once a copy of such a backup is open: unlike its document, it has none.
inline constexpr wchar_t kCopyHasNoPassword[] =
    L"This copy of a password-protected backup has no password, so it is kept in a temporary folder and deleted "
    L"once it is closed. To keep it, save it in Word under a name of your own and give it a password.";
// Delete's question, where the Recycle Bin takes the backup and where not.
inline constexpr wchar_t kRecycleQuestion[] = L"Move this backup to the Recycle Bin?";
inline constexpr wchar_t kDeleteForGoodQuestion[] =
    L"Delete this backup permanently?\r\n\r\nIts folder has no Recycle Bin (it is on a network or a removable "
    L"drive), so the backup cannot be brought back once it is deleted.";
std::wstring SizeText(std::uint64_t bytes);
std::wstring ChangeText(std::uint64_t size, std::optional<std::uint64_t> previous);

}  // namespace backups

class BackupsWindow {
public:
    // rememberedFolders: the folders backups were written to, most recent
    // first, asked afresh at each read.
    BackupsWindow(std::wstring historyFile, std::function<std::vector<std::wstring>()> rememberedFolders,
                  std::wstring journalFile = DefaultJournalFile());
    ~BackupsWindow();
    BackupsWindow(const BackupsWindow&) = delete;
    BackupsWindow& operator=(const BackupsWindow&) = delete;

    // Made on the first call, and filled as the backups are read, with the
    // document active in Word selected when it is found; later calls bring
    // it to the front.
    void Show();
    // Shown, or brought to the front, with the document that holds this
    // backup selected and its newest backup, once the backups are read again.
    void ShowDocumentOf(const std::wstring& backupPath);
    HWND hwnd() const { return hwnd_; }
    // For the message loop: F5 and the dialog keys of this window.
    bool TranslateDialogMessage(MSG& msg);

    // Reads the history and the folders again, off the window's thread, and
    // selects again the document that was selected once it is found.
    void Refresh();
    // True while the backups are being read.
    bool loading() const { return load_ != nullptr; }
    // The filter box's text: documents whose name holds it.
    void SetFilter(const std::wstring& text);
    // Selects the row of the documents list, and the newest backup.
    void SelectDocument(int row);
    void SelectBackup(int row);

    // The actions on the selected backup.  None writes to a user's file.
    void OpenCopy();
    void Compare();
    void ShowInFolder();
    void Delete();

    // What the lists show, row by row.
    int documentRows() const { return static_cast<int>(documentRows_.size()); }
    int backupRows() const { return static_cast<int>(searchWords_.empty() ? backupRows_.size() : found_.size()); }
    std::wstring documentText(int row, int column) const;
    std::wstring backupText(int row, int column) const;
    std::optional<int> selectedDocumentRow() const { return selectedDocument_; }
    void SortBy(int list, int column);  // list: backups::kDocuments or kBackups; twice: descending

    // The search box: while it holds words, the backups list shows the
    // backups (of the selected document, or of all) whose text holds them,
    // newest first, as they are found.  Empty words: the list as before.
    void Search(const std::wstring& words, bool allDocuments);
    bool searching() const { return search_ != nullptr; }
    std::wstring statusText() const;
    // The preview of the selected backup (null while the window is closed),
    // made off the window's thread: previewing() while it is being made.
    HWND preview() const { return preview_ ? preview_->hwnd() : nullptr; }
    bool previewing() const { return previewWork_ || (preview_ && preview_->showing()); }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Create();
    void Layout();
    void OnCommand(int id, UINT code);
    LRESULT OnNotify(const NMHDR& header);
    void OnContextMenu(HWND from, LPARAM at);
    void Run(const wchar_t* routine, void (BackupsWindow::*action)());

    // BackupsLists.cpp: the lists' rows, order and texts.
    void OnCatalogueFound();
    std::optional<size_t> wantedDocument() const;
    void FillDocuments(std::optional<size_t> keep);
    void FillBackups();
    void ShowSortArrow(HWND list, int column, bool ascending);
    const CatalogueDocument* document() const;
    const BackupFile* backup() const;
    // BackupsCommands.cpp: the selected backup, copied out of the catalogue.
    struct Chosen {
        ListedDocument document;
        std::wstring path;
        bool isProtected;
    };
    std::optional<Chosen> chosen() const;
    static ListedDocument Listed(const CatalogueDocument& d);

    // BackupsSearchList.cpp: the search's rows and the status line.
    void OnSearchFound();
    void RestartSearch();
    std::wstring foundText(int row, int column) const;
    const CatalogueDocument* backupDocument() const;  // the selected backup's
    void ShowStatus();
    // BackupsPreviewPane.cpp: the preview, and what only an open window holds.
    void UpdatePreview();
    void OnPreviewReady();
    void OnPreviewMore();
    void Open();
    void Close();  // let go of it

    // Posted by the load when found backups wait; by the search and the
    // preview likewise.
    static constexpr UINT kCatalogueFound = WM_APP + 1;
    static constexpr UINT kSearchFound = WM_APP + 2;
    static constexpr UINT kPreviewReady = WM_APP + 3;
    static constexpr UINT kPreviewMore = WM_APP + 4;  // the preview's next piece

    std::wstring historyFile_, journalFile_;
    std::function<std::vector<std::wstring>()> rememberedFolders_;
    HWND hwnd_ = nullptr;
    HWND filter_ = nullptr, documents_ = nullptr, backups_ = nullptr;
    UniqueFont font_;
    BackupCatalogue catalogue_;
    std::unique_ptr<CatalogueLoad> load_;
    // The document to select once it is read, until the user picks one: the
    // one active in Word (name and folder), or the one selected before F5.
    struct Wanted {
        std::wstring name, folder, stem;
        int number = 0;
        bool exact = false;  // folder, stem, number and identity, not Word's name
        std::wstring identity;  // its key; else a document the journal knows by it first
        std::wstring backupPath;  // else the document holding this backup
    };
    std::optional<Wanted> wanted_;
    std::optional<size_t> shownDocument_;  // whose backups the backups list shows
    std::wstring filterText_;
    std::vector<size_t> documentRows_;  // catalogue documents shown, in order
    std::vector<size_t> backupRows_;    // the selected document's backups shown, in order
    std::vector<std::optional<std::uint64_t>> previousSize_;  // per backup: the size of the one before it
    std::optional<int> selectedDocument_;
    struct Sort {
        int column;
        bool ascending;
    } documentSort_{0, true}, backupSort_{0, false};
    std::uint64_t now_ = 0;  // when the lists were filled, for "minutes ago"

    HWND status_ = nullptr;
    std::shared_ptr<BackupTexts> texts_;  // while the window is open
    std::unique_ptr<BackupPreview> preview_;
    std::unique_ptr<PreviewWork> previewWork_;  // while a preview is being made
    std::wstring previewed_;  // what the preview shows: its backup, what it is compared with, the words
    std::unique_ptr<BackupSearch> search_;
    std::wstring searchWords_;
    bool allDocuments_ = false;
    std::vector<SearchHit> found_;  // newest first
    size_t searched_ = 0, searchTotal_ = 0;
    std::optional<std::wstring> searchFailure_;  // why the search could not start
};
