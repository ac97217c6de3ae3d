// The Backups window's two lists: their rows, their order and their texts.
// Both lists are virtual (LVS_OWNERDATA): a document with 10,000 backups
// costs the list one count, and each row's text is made when it is shown.
#include "backupswindow/BackupsWindow.h"

#include "common/Failure.h"
#include "common/Guard.h"
#include "common/Text.h"
#include "engine/BackupName.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

using namespace backups;

namespace {

constexpr std::uint64_t kSecond = 10'000'000;

std::uint64_t NowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring Count(std::int64_t n, const wchar_t* unit) {
    return std::to_wstring(n) + L" " + unit + (n == 1 ? L"" : L"s");
}

std::wstring Ago(std::uint64_t written, std::uint64_t now) {
    if (written > now + 60 * kSecond) return L"in the future";
    const std::int64_t seconds = written > now ? 0 : static_cast<std::int64_t>((now - written) / kSecond);
    if (seconds < 60) return L"just now";
    if (seconds < 3600) return Count(seconds / 60, L"minute") + L" ago";
    if (seconds < 86400) return Count(seconds / 3600, L"hour") + L" ago";
    return Count(seconds / 86400, L"day") + L" ago";
}

int Order(std::uint64_t a, std::uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; }
int CompareText(const std::wstring& a, const std::wstring& b) {
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE | SORT_DIGITSASNUMBERS, a.c_str(), -1, b.c_str(),
                           -1, nullptr, nullptr, 0) - CSTR_EQUAL;
}

bool Holds(const std::wstring& text, const std::wstring& part) {
    if (part.empty()) return true;
    return FindNLSStringEx(LOCALE_NAME_USER_DEFAULT, FIND_FROMSTART | LINGUISTIC_IGNORECASE, text.c_str(), -1,
                           part.c_str(), -1, nullptr, nullptr, nullptr, 0) >= 0;
}

}  // namespace

namespace backups {

std::wstring WhenText(std::uint64_t written, std::uint64_t now) {
    const FILETIME utc{static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return L"?";
    return GeneralDate(local) + L" (" + Ago(written, now) + L")";
}

std::wstring SizeText(std::uint64_t bytes) {
    wchar_t text[64] = {};
    StrFormatKBSizeW(static_cast<LONGLONG>(bytes), text, 64);
    return text;
}

// In bytes while small against the size before, in per cent from 10 % on;
// a shrink by more than 30 % (half the text deleted) is marked.
std::wstring ChangeText(std::uint64_t size, std::optional<std::uint64_t> previous) {
    if (!previous) return L"first";
    const std::int64_t change = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(*previous);
    if (change == 0) return L"no change";
    const wchar_t* sign = change > 0 ? L"+" : L"-";
    const std::uint64_t amount = change > 0 ? change : -change;
    if (*previous > 0 && amount * 10 >= *previous) {
        std::wstring text = sign + std::to_wstring((amount * 100 + *previous / 2) / *previous) + L" %";
        if (change < 0 && amount * 100 > *previous * 30) text += L" (large shrink)";
        return text;
    }
    if (amount < 1024) return sign + std::to_wstring(amount) + (amount == 1 ? L" byte" : L" bytes");
    return sign + std::to_wstring((amount + 512) / 1024) + L" KB";
}

}  // namespace backups

const CatalogueDocument* BackupsWindow::document() const {
    if (!selectedDocument_ || *selectedDocument_ >= documentRows()) return nullptr;
    return &catalogue_.documents[documentRows_[*selectedDocument_]];
}

const BackupFile* BackupsWindow::backup() const {
    const CatalogueDocument* d = backupDocument();
    const int row = backups_ ? ListView_GetNextItem(backups_, -1, LVNI_SELECTED) : -1;
    if (d && !searchWords_.empty()) return &d->backups[found_[row].backup];
    if (!d || row < 0 || row >= backupRows()) return nullptr;
    return &d->backups[backupRows_[row]];
}

// A part of the backups was read: the lists grow, the selections stay (the
// document wanted, once it is found), and the newest backup stays on top.
void BackupsWindow::OnCatalogueFound() {
    if (!load_) return;  // posted by a load that F5 replaced
    const bool finished = load_->take(catalogue_);
    now_ = NowTicks();
    std::optional<size_t> keep;
    if (const CatalogueDocument* d = document()) keep = static_cast<size_t>(d - catalogue_.documents.data());
    if (const std::optional<size_t> wanted = wantedDocument()) keep = wanted;
    FillDocuments(keep);
    if (!finished) return;
    const std::optional<std::wstring> failure = load_->failure();
    load_.reset();
    wanted_.reset();
    POINT cursor;
    if (GetCursorPos(&cursor))
        if (HWND under = WindowFromPoint(cursor); under == hwnd_ || IsChild(hwnd_, under))
            SetCursorPos(cursor.x, cursor.y);  // lets WM_SETCURSOR pick the pointer again
    SetDlgItemTextW(hwnd_, kDocumentsLabel, kDocumentsText);
    if (failure) Guard(L"Backups", L"Refresh").step(1, [&] { throw Failure::Text(*failure); });
}

std::optional<size_t> BackupsWindow::wantedDocument() const {
    if (!wanted_) return std::nullopt;
    if (!wanted_->backupPath.empty()) {
        for (size_t i = 0; i < catalogue_.documents.size(); ++i)
            for (const BackupFile& b : catalogue_.documents[i].backups)
                if (SameText(catalogue_.documents[i].path(b), wanted_->backupPath)) return i;
        return std::nullopt;
    }
    if (!wanted_->exact) {
        // A document the journal knows, by its identity; any other by its name.
        for (size_t i = 0; i < catalogue_.documents.size() && !wanted_->identity.empty(); ++i)
            if (catalogue_.documents[i].identity == wanted_->identity) return i;
        return FindCatalogueDocument(catalogue_, wanted_->name, wanted_->folder);
    }
    for (size_t i = 0; i < catalogue_.documents.size(); ++i) {
        const CatalogueDocument& c = catalogue_.documents[i];
        if (c.folder == wanted_->folder && c.stem == wanted_->stem && c.number == wanted_->number &&
            c.identity == wanted_->identity)
            return i;
    }
    return std::nullopt;
}

void BackupsWindow::FillDocuments(std::optional<size_t> keep) {
    documentRows_.clear();
    for (size_t i = 0; i < catalogue_.documents.size(); ++i)
        if (Holds(catalogue_.documents[i].shownName(), filterText_)) documentRows_.push_back(i);
    const auto& docs = catalogue_.documents;
    const Sort sort = documentSort_;
    std::stable_sort(documentRows_.begin(), documentRows_.end(), [&](size_t a, size_t b) {
        const CatalogueDocument &x = docs[a], &y = docs[b];
        int order = sort.column == 1   ? Order(x.backups.size(), y.backups.size())
                    : sort.column == 2 ? Order(x.newest, y.newest)
                    : sort.column == 3 ? CompareText(x.folder, y.folder)
                                       : CompareText(x.shownName(), y.shownName());
        return sort.ascending ? order < 0 : order > 0;
    });
    ShowSortArrow(documents_, sort.column, sort.ascending);
    if (documents_) ListView_SetItemCountEx(documents_, documentRows(), LVSICF_NOSCROLL);
    int row = documentRows_.empty() ? -1 : 0;
    if (keep)
        if (auto it = std::find(documentRows_.begin(), documentRows_.end(), *keep); it != documentRows_.end())
            row = static_cast<int>(it - documentRows_.begin());
    SelectDocument(row);
}

void BackupsWindow::SelectDocument(int row) {
    selectedDocument_ = row >= 0 && row < documentRows() ? std::optional<int>(row) : std::nullopt;
    if (documents_) {
        ListView_SetItemState(documents_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        if (selectedDocument_) {
            ListView_SetItemState(documents_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            ListView_EnsureVisible(documents_, row, FALSE);
        }
        InvalidateRect(documents_, nullptr, FALSE);
    }
    FillBackups();
}

void BackupsWindow::FillBackups() {
    // While words are searched for the list shows what holds them: another
    // document (or more of them read) is searched afresh.
    if (!searchWords_.empty()) {
        if (!allDocuments_ || loading()) RestartSearch();
        return;
    }
    const CatalogueDocument* d = document();
    const std::optional<size_t> index =
        d ? std::optional<size_t>(d - catalogue_.documents.data()) : std::nullopt;
    // The same document's list refilled keeps its selected backup, unless
    // that was the top one: the top one (the newest) stays selected.
    std::optional<size_t> keep;
    if (index && index == shownDocument_ && backups_)
        if (const int row = ListView_GetNextItem(backups_, -1, LVNI_SELECTED); row > 0 && row < backupRows())
            keep = backupRows_[row];
    shownDocument_ = index;
    backupRows_.clear();
    previousSize_.clear();
    if (d) {
        // The change is against the backup made before, whatever the order shown.
        std::vector<size_t> byTime(d->backups.size());
        for (size_t i = 0; i < byTime.size(); ++i) byTime[i] = i;
        std::stable_sort(byTime.begin(), byTime.end(),
                         [&](size_t a, size_t b) { return d->backups[a].written < d->backups[b].written; });
        previousSize_.resize(byTime.size());
        for (size_t i = 1; i < byTime.size(); ++i) previousSize_[byTime[i]] = d->backups[byTime[i - 1]].size;
        backupRows_ = byTime;
        const Sort sort = backupSort_;
        auto change = [&](size_t i) {
            return previousSize_[i] ? static_cast<std::int64_t>(d->backups[i].size - *previousSize_[i]) : 0;
        };
        std::stable_sort(backupRows_.begin(), backupRows_.end(), [&](size_t a, size_t b) {
            const BackupFile &x = d->backups[a], &y = d->backups[b];
            const int order = sort.column == 1   ? Order(x.size, y.size)
                              : sort.column == 2 ? (change(a) < change(b) ? -1 : change(a) > change(b))
                                                 : Order(x.written, y.written);
            return sort.ascending ? order < 0 : order > 0;
        });
    }
    ShowSortArrow(backups_, backupSort_.column, backupSort_.ascending);
    if (backups_) {
        ListView_SetItemCountEx(backups_, backupRows(), LVSICF_NOSCROLL);
        InvalidateRect(backups_, nullptr, FALSE);
    }
    int row = backupRows_.empty() ? -1 : 0;
    if (keep)
        if (auto it = std::find(backupRows_.begin(), backupRows_.end(), *keep); it != backupRows_.end())
            row = static_cast<int>(it - backupRows_.begin());
    SelectBackup(row);
}

void BackupsWindow::SelectBackup(int row) {
    if (!backups_) return;
    ListView_SetItemState(backups_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row < 0 || row >= backupRows()) return;
    ListView_SetItemState(backups_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(backups_, row, FALSE);
}

void BackupsWindow::SetFilter(const std::wstring& text) {
    filterText_ = text;
    const CatalogueDocument* d = document();
    FillDocuments(d ? std::optional<size_t>(d - catalogue_.documents.data()) : std::nullopt);
}

void BackupsWindow::SortBy(int list, int column) {
    Sort& sort = list == kDocuments ? documentSort_ : backupSort_;
    sort.ascending = sort.column == column ? !sort.ascending : true;
    sort.column = column;
    const CatalogueDocument* d = document();
    if (list == kDocuments) FillDocuments(d ? std::optional<size_t>(d - catalogue_.documents.data()) : std::nullopt);
    else FillBackups();
}

void BackupsWindow::ShowSortArrow(HWND list, int column, bool ascending) {
    if (!list) return;
    HWND header = ListView_GetHeader(list);
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        HDITEMW item{HDI_FORMAT};
        Header_GetItem(header, i, &item);
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == column) item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        Header_SetItem(header, i, &item);
    }
}

std::wstring BackupsWindow::documentText(int row, int column) const {
    if (row < 0 || row >= documentRows()) return {};
    const CatalogueDocument& d = catalogue_.documents[documentRows_[row]];
    switch (column) {
    case 0: return d.shownName();
    case 1: return std::to_wstring(d.backups.size());
    case 2: return WhenText(d.newest, now_);
    default: return d.folder;
    }
}

std::wstring BackupsWindow::backupText(int row, int column) const {
    if (!searchWords_.empty()) return foundText(row, column);
    const CatalogueDocument* d = document();
    if (!d || row < 0 || row >= backupRows()) return {};
    const size_t i = backupRows_[row];
    const BackupFile& b = d->backups[i];
    switch (column) {
    case 0: return WhenText(b.written, now_) + (b.isProtected ? kProtectedMark : L"");
    case 1: return SizeText(b.size);
    case 2: return ChangeText(b.size, previousSize_[i]);
    default: return d->folder;
    }
}
