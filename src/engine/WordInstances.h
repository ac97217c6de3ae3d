#pragma once
// Every Word the user works in: the active object, the Word behind each
// document window (a top-level "OpusApp" window whose "_WwG" pane answers
// WM_GETOBJECT for OBJID_NATIVEOM with the document's Window object), and
// the Word behind each Word document in the running-object table.  Each
// Word counts once, by COM identity.
#include "engine/RunState.h"
#include "engine/WordProbes.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

// One Word found.  Backed up: the active object whatever it shows, any
// other only while it shows a window of its own (a Word that shows none
// belongs to the program that created it).
struct FoundWord {
    Dispatch app;
    Microsoft::WRL::ComPtr<IUnknown> identity;
    WordProcess process;  // zero when no window of it was found
    bool active = false;
    bool shown = false;
    bool backedUp() const { return active || shown; }
};

class WordInstances {
public:
    // The active object and the Word of each process that has a document
    // window (one window asked per process), each answering to the name
    // "Microsoft Word"; a Word that does not answer (busy past the retry
    // bound, a call or its windows unanswered within their bounds) is left
    // out.  Running when one was found, Busy when only unanswering ones were.
    WordState find();
    // Every Word that find() asked answered.
    bool allAnswered() const { return !activeUnanswered_ && unanswered_.empty(); }
    // Every object of the table that was asked answered (it may have been a
    // Word only the table knows, whose documents were then not seen).
    bool tableAnswered() const { return !tableUnanswered_; }
    // The processes of the user's Words (a window shown) that did not answer.
    const std::vector<WordProcess>& unanswered() const { return unanswered_; }
    // The Words found that a run backs up, the active object first.
    std::vector<FoundWord> backedUp() const;
    // The Words of the table's Word documents that find() did not reach,
    // shown ones only (Visible).  seen: the full names, in upper case, of
    // the documents already gone through; only the others are asked for
    // their Word, and only those whose names are Word documents, each call
    // within a short bound.  Afterwards they count as found.
    std::vector<FoundWord> fromRunningObjectTable(const std::set<std::wstring>& seen);

private:
    bool known(const Dispatch& app) const;
    // Adds app unless its Word is known; answers the Word it is.
    FoundWord* add(Dispatch app, WordProcess process);

    std::vector<FoundWord> words_;
    std::vector<WordProcess> unanswered_;
    bool activeUnanswered_ = false, tableUnanswered_ = false;
};

// A name that Word opens as a document (its own kinds, text and web pages,
// the kinds it converts), by extension, case ignored; a web address too.
bool IsWordDocumentName(std::wstring_view name);

// The running Word that start-up asks: the active object, else any Word
// that shows a document window; empty when none answers.
Dispatch AnyRunningWord();

// A process as the journal knows it, from its id.
WordProcess ProcessOf(DWORD processId);
