#pragma once
// What the backups window does with a backup.  None of it writes to a
// document of the user's: a backup is opened and compared through a new
// copy of its own, and deleted only to the Recycle Bin.
#include "common/Automation.h"
#include "engine/JournalLine.h"
#include "engine/ProtectedContent.h"

#include <windows.h>

#include <optional>
#include <string>

// Copies backup to a new file beside it, named after the document: "Report
// (recovered 2026-12-08 10-15).docx", then " (2)", " (3)" before the
// extension while a name is taken.  Created new: never over a file.  A
// password-protected backup ("....docx.protected") is decrypted into a
// read-only copy ("....docx") in the recovered copies' folder instead
// (engine/RecoveredCopies.h): such a copy has no password.
std::wstring CopyForRecovery(const std::wstring& backup, const std::wstring& documentName, const SYSTEMTIME& now);

// The package a backup holds, read whole; a password-protected backup's
// decrypted in memory.  Throws Failure.
std::string BackupPackageBytes(const std::wstring& backup);

// The user's running Word, or empty when there is none (never fails).
Dispatch RunningWord();
// The name, folder (empty when never saved) and FullName of Word's active document.
struct WordDocumentId {
    std::wstring name, folder, fullName;
};
std::optional<WordDocumentId> ActiveWordDocument(const Dispatch& word);
// A listed document, as Word is asked for it again: by its identity when
// the journal names its backups (a saved document by its full name, a
// never-saved one by its name within its Word process), whatever the
// window calls it; else, for backups the history alone names, by Word's
// name, from the folder of its backups when one of that name is.
struct ListedDocument {
    DocumentIdentity identity;  // empty name: not known
    std::wstring name;          // Word's Name
    std::wstring folder;        // of its backups
};
// The document open now in any of the user's Words, and that Word; an
// empty document when none is open.
struct WordAndDocument {
    Dispatch word, document;
};
WordAndDocument OpenDocumentOf(const ListedDocument& document);

// Documents.Open of file in the user's Word: the opened document.
Dispatch OpenInWord(const Dispatch& word, const std::wstring& file);
// The program the file's type is associated with (ShellExecuteExW).
void OpenWithAssociatedProgram(const std::wstring& file);
// Word's own comparison, into a new document (answered): neither document
// changes.
Dispatch CompareInWord(const Dispatch& word, const Dispatch& original, const Dispatch& revised);
// Writes down a comparison that shows protected content, its name the
// first thing asked of it, so that no run backs it up in plain (none at all
// with a rights-managed document).  One that cannot be written down is
// closed unsaved, and the failure thrown.
void RememberProtectedComparison(const Dispatch& comparison, Protection protection);

// Explorer, from the Windows folder, with the file selected.
void ShowInFolder(const std::wstring& file);
// Whether the Recycle Bin takes the file: Windows keeps one on each fixed
// volume, none on network shares and removable media.
bool RecycleBinTakes(const std::wstring& file);
// To the Recycle Bin where it takes the file.  Where it turns out not to
// (the file is too big for it, or the user turned it off), the system asks
// before deleting for good, unless the user has agreed to that already.
// False when the operation was cancelled.
bool DeleteBackupFile(HWND owner, const std::wstring& file, bool permanentAgreed);
