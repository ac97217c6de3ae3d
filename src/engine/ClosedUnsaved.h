#pragma once
// Documents that Word closed with changes that were never saved: seen by one
// run with unsaved changes and a backup, and no longer there at a later run.
// Word may have crashed, been ended, or been told "Don't Save"; either way
// the last backup is all that is left of that work.
#include "engine/WordDocument.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A document closed unsaved, with the backup that holds its last state.
struct ClosedDocument {
    std::wstring name;        // as Word named it
    std::wstring backupPath;  // its newest backup
    SYSTEMTIME backupTime{};  // when that backup was written, local time
};

class ClosedUnsavedWatch {
public:
    // Before a run looks at any document.
    void runStarted();
    // A document that the run found, and whether it had changes that were
    // not saved.
    void seen(const OpenDocument& document, bool unsaved);
    // Its backup, written now: its newest until another is.
    void backedUp(const std::wstring& identity, const std::wstring& backupPath, const SYSTEMTIME& now);
    // A Word whose documents the run went through, all of them; and one
    // it could not go through (busy, or gone mid-run).
    void seenThrough(const WordProcess& word);
    void notSeenThrough(const WordProcess& word);
    // At the end of a run: the documents with unsaved changes at their last
    // backup that this run did not see, each told once.  A document whose
    // file was written after the run that saw it was saved before it was
    // closed; one that its Word saved under a new name meanwhile ("Save
    // As") shows as a new saved document of that Word: neither is taken for
    // closed, nor is a document on the web whose synced copy cannot tell.
    // A Word not gone through whose process still runs (not found: busy, a
    // dialog open, a window that does not answer) keeps its documents.
    std::vector<ClosedDocument> runEnded();
    // No Word found: the documents of Word processes that have ended.
    std::vector<ClosedDocument> wordGone();

private:
    struct Known {
        std::wstring name;
        WordProcess word;
        bool unsaved = false;
        std::wstring file;       // on disk, or the synced copy of one on the web
        bool neverSaved = false;
        bool onTheWeb = false;
        std::uint64_t seenAt = 0;  // FILETIME ticks
        std::wstring backupPath;
        SYSTEMTIME backupTime{};
        bool seenNow = false;   // by the run under way
        bool isNew = false;     // first seen by the run under way
        bool keep = false;      // its Word was not gone through
    };
    std::map<std::wstring, Known> known_;  // by identity
    std::vector<WordProcess> seenThrough_;  // by the run under way
};
