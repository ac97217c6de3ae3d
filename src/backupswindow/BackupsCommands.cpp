// The Backups window's actions on the selected backup.
#include "backupswindow/BackupsWindow.h"

#include "backupswindow/BackupActions.h"
#include "common/MessageBox.h"
#include "common/Services.h"
#include "engine/ProtectedContent.h"
#include "engine/RecoveredCopies.h"

using namespace backups;

// What is used of the selection is copied first: the lists may be replaced
// while a box is up or Word is asked.
std::optional<BackupsWindow::Chosen> BackupsWindow::chosen() const {
    const CatalogueDocument* d = backupDocument();
    const BackupFile* b = backup();
    if (!d || !b) return std::nullopt;
    return Chosen{Listed(*d), d->path(*b), b->isProtected};
}

ListedDocument BackupsWindow::Listed(const CatalogueDocument& d) { return {d.document, d.name, d.folder}; }

void BackupsWindow::OpenCopy() {
    const std::optional<Chosen> c = chosen();
    if (!c) return;
    // Named after the document itself, whatever the list calls it.
    const std::wstring copy = CopyForRecovery(c->path, c->document.name, LocalNow());
    if (Dispatch word = RunningWord())
        OpenInWord(word, copy);
    else
        OpenWithAssociatedProgram(copy);
    if (c->isProtected) ShowMessageBox(hwnd_, kCopyHasNoPassword, std::nullopt, MB_OK | MB_ICONINFORMATION);
}

void BackupsWindow::Compare() {
    const std::optional<Chosen> c = chosen();
    if (!c) return;
    // Found by its identity, in whichever Word holds it; compared there.
    const auto [word, current] = OpenDocumentOf(c->document);
    if (!current) {
        ShowMessageBox(hwnd_,
                       c->document.name + L" is not open in Word, so there is nothing to compare this backup with.",
                       std::nullopt, MB_OK | MB_ICONINFORMATION);
        return;
    }
    // Known before the comparison exists: what it shows of a protected
    // backup or document must never be backed up in plain.
    Protection protection = ProtectionOf(current, std::make_shared<MemberIds>());
    if (protection != Protection::RightsManaged && c->isProtected) protection = Protection::Password;
    const std::wstring copy = CopyForRecovery(c->path, c->document.name, LocalNow());
    Dispatch comparison = CompareInWord(word, OpenInWord(word, copy), current);
    if (protection == Protection::Password || protection == Protection::RightsManaged)
        RememberProtectedComparison(comparison, protection);
    if (c->isProtected) ShowMessageBox(hwnd_, kCopyHasNoPassword, std::nullopt, MB_OK | MB_ICONINFORMATION);
}

void BackupsWindow::ShowInFolder() {
    const CatalogueDocument* d = backupDocument();
    if (const BackupFile* b = backup()) ::ShowInFolder(d->path(*b));
}

void BackupsWindow::Delete() {
    const CatalogueDocument* d = backupDocument();
    const BackupFile* b = backup();
    if (!d || !b) return;
    const std::wstring path = d->path(*b);
    const bool recycled = RecycleBinTakes(path);
    if (ShowMessageBox(hwnd_, (recycled ? kRecycleQuestion : kDeleteForGoodQuestion) + (L"\r\n\r\n" + path),
                       std::nullopt,
                       MB_YESNO | (recycled ? MB_ICONQUESTION : MB_ICONWARNING | MB_DEFBUTTON2)) != IDYES)
        return;
    DeleteBackupFile(hwnd_, path, !recycled);
    Refresh();
}
