#pragma once
// A document open in Word, resolved once from what Word says: what the run,
// the journal, the closed-unsaved watch, the Backups window and the history
// line all go by.  Only this value finds a document in Word again.
#include "common/Automation.h"
#include "engine/JournalLine.h"

#include <cstdint>
#include <optional>
#include <string>

struct OpenDocument {
    Dispatch document;
    Dispatch word;          // the Application that holds it
    std::wstring name;      // Word's Name
    std::wstring path;      // Word's Path: "C:\" for a drive's root, a web address without its last slash,
                            // empty when never saved
    std::wstring fullName;  // Word's FullName
    WordProcess process;    // of its Word
    DocumentIdentity identity;
    bool onTheWeb = false;

    bool neverSaved() const { return identity.neverSaved; }
    // Saved to a file of this computer or network: not never saved, not on the web.
    bool onDisk() const { return !neverSaved() && !onTheWeb; }
    // What the Backups window and the balloon call it; firstBackup: a
    // never-saved document's first backup (0: not known).
    std::wstring label(std::uint64_t firstBackup = 0) const;
};

// The one rule for an identity: a FullName that is a path (a drive's, a UNC
// one) or a web address is a saved document, known by that name without
// regard to case, a mapped network drive by its share's name; any other
// FullName is a never-saved document's name, known within its Word's
// process.  "Q3/Q4 plan" is a name.
DocumentIdentity IdentityOf(const std::wstring& fullName, const WordProcess& process);

// The value of a document from its FullName (one call of Word's), its Word
// and that Word's process.
OpenDocument ResolveOpenDocument(Dispatch word, Dispatch document, const std::wstring& fullName,
                                 const WordProcess& process);

// How the Backups window names a document: "Report.docx (C:\Docs)", or for
// a never-saved one "Document1, started Dec 8 10:02 AM".
std::wstring DocumentLabel(const DocumentIdentity& identity, const std::wstring& name, std::uint64_t firstBackup);

// A Word's process, asked of the Word itself (its active window's handle):
// for a Word found without a window of its own.  Zero when it cannot tell
// (no document window); never fails.
WordProcess ProcessOfWord(const Dispatch& word);

// False once Word has closed the document ("Object has been deleted"); any
// other failure is thrown.
bool IsStillOpen(const Dispatch& document);

// The document of this identity open in one of the user's Words now: by
// FullName for a saved document, by name within its Word's process for a
// never-saved one.  None when it is not open (or no Word answers).
std::optional<OpenDocument> FindOpenDocument(const DocumentIdentity& identity);
