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
    // "Microsoft Word"; a Word that stays busy past the retry bound is left
    // out.  Running when one was found, Busy when only busy ones were.
    WordState find();
    // The Words found that a run backs up, the active object first.
    std::vector<FoundWord> backedUp() const;
    // The Words of the table's Word documents that find() did not reach,
    // shown ones only (Visible).  seen: the full names, in upper case, of
    // the documents already gone through; only the others are asked for
    // their Word.  Afterwards they count as found.
    std::vector<FoundWord> fromRunningObjectTable(const std::set<std::wstring>& seen);

private:
    bool known(const Dispatch& app) const;
    // Adds app unless its Word is known; answers the Word it is.
    FoundWord* add(Dispatch app, WordProcess process);

    std::vector<FoundWord> words_;
    bool busy_ = false;
};

// The running Word that start-up asks: the active object, else any Word
// that shows a document window; empty when none answers.
Dispatch AnyRunningWord();

// A process as the journal knows it, from its id.
WordProcess ProcessOf(DWORD processId);
