// The Backups window's search: its rows in the backups list and the status
// line.
#include "backupswindow/BackupsWindow.h"

#include "common/Failure.h"
#include "common/Guard.h"

#include <commctrl.h>

#include <algorithm>
#include <tuple>

using namespace backups;

namespace {

std::wstring Plural(size_t n, const wchar_t* unit) {
    return std::to_wstring(n) + L" " + unit + (n == 1 ? L"" : std::wstring_view(unit).ends_with(L"h") ? L"es" : L"s");
}

}  // namespace

void BackupsWindow::Search(const std::wstring& words, bool allDocuments) {
    const bool was = !searchWords_.empty();
    searchWords_ = texts_ ? texts_->fold().query(words).empty() ? std::wstring() : words : std::wstring();
    allDocuments_ = allDocuments;
    if (searchWords_.empty()) {
        search_.reset();
        found_.clear();
        ShowStatus();
        if (was) {
            shownDocument_.reset();
            FillBackups();
        }
        return;
    }
    RestartSearch();
}

void BackupsWindow::RestartSearch() {
    search_.reset();
    found_.clear();
    searched_ = 0;
    std::vector<SearchItem> items;
    const CatalogueDocument* only = document();
    for (size_t d = 0; d < catalogue_.documents.size(); ++d) {
        const CatalogueDocument& doc = catalogue_.documents[d];
        if (!allDocuments_ && &doc != only) continue;
        for (size_t b = 0; b < doc.backups.size(); ++b)
            items.push_back({d, b, doc.path(doc.backups[b]), doc.backups[b].written, doc.backups[b].size});
    }
    std::sort(items.begin(), items.end(), [](const SearchItem& x, const SearchItem& y) {
        return x.written != y.written ? x.written > y.written : x.path < y.path;
    });
    searchTotal_ = items.size();
    searchFailure_.reset();
    if (backups_) ListView_SetItemCountEx(backups_, 0, 0);
    try {
        if (!items.empty())
            search_ = std::make_unique<BackupSearch>(texts_, searchWords_, std::move(items), hwnd_, kSearchFound);
    } catch (const Failure& failure) {
        searchFailure_ = failure.description();  // said in the status line, not at every key
    }
    ShowStatus();
    UpdatePreview();
}

// Hits arrive out of order (two threads); the list stays newest first and
// the selected backup stays selected.
void BackupsWindow::OnSearchFound() {
    if (!search_) return;  // posted by a search replaced since
    const BackupFile* selected = backup();
    std::vector<SearchHit> hits;
    const bool finished = search_->take(hits, searched_);
    if (!hits.empty()) {
        found_.insert(found_.end(), hits.begin(), hits.end());
        auto written = [&](const SearchHit& h) { return catalogue_.documents[h.document].backups[h.backup].written; };
        std::sort(found_.begin(), found_.end(), [&](const SearchHit& x, const SearchHit& y) {
            return written(x) != written(y) ? written(x) > written(y)
                                            : std::tie(x.document, x.backup) < std::tie(y.document, y.backup);
        });
        ListView_SetItemCountEx(backups_, backupRows(), LVSICF_NOSCROLL);
        int row = 0;
        for (int i = 0; selected && i < backupRows(); ++i)
            if (&catalogue_.documents[found_[i].document].backups[found_[i].backup] == selected) row = i;
        SelectBackup(row);
        InvalidateRect(backups_, nullptr, FALSE);
    }
    if (finished) search_.reset();
    ShowStatus();
}

std::wstring BackupsWindow::statusText() const {
    if (searchWords_.empty()) return {};
    if (searchFailure_) return *searchFailure_;
    const size_t holding = std::count_if(found_.begin(), found_.end(),
                                         [](const SearchHit& h) { return h.kind == SearchHit::Holds; });
    const std::wstring of = L" of " + Plural(searchTotal_, L"backup");
    if (search_) return L"Searching... " + std::to_wstring(searched_) + of + L" read, " + std::to_wstring(holding) + L" found";
    return std::to_wstring(holding) + of + (holding == 1 ? L" holds" : L" hold") + L" \u201c" + searchWords_ + L"\u201d";
}

void BackupsWindow::ShowStatus() {
    if (status_) SetWindowTextW(status_, statusText().c_str());
    SetDlgItemTextW(hwnd_, kBackupsLabel, searchWords_.empty() ? kBackupsText : kFoundBackupsText);
}

const CatalogueDocument* BackupsWindow::backupDocument() const {
    if (searchWords_.empty()) return document();
    const int row = backups_ ? ListView_GetNextItem(backups_, -1, LVNI_SELECTED) : -1;
    if (row < 0 || row >= backupRows()) return nullptr;
    return &catalogue_.documents[found_[row].document];
}

std::wstring BackupsWindow::foundText(int row, int column) const {
    if (row < 0 || row >= backupRows()) return {};
    const SearchHit& hit = found_[row];
    const CatalogueDocument& d = catalogue_.documents[hit.document];
    const BackupFile& b = d.backups[hit.backup];
    switch (column) {
    case 0: return WhenText(b.written, now_) + (b.isProtected ? kProtectedMark : L"");
    case 1: return SizeText(b.size);
    case 2:
        return hit.kind == SearchHit::Classic      ? kClassicNotSearched
               : hit.kind == SearchHit::Unreadable ? kUnreadableNotSearched
                                                   : Plural(hit.matches, L"match");
    default: return allDocuments_ ? d.shownName() + L" in " + d.folder : d.folder;
    }
}
