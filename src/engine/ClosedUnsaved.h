#pragma once
// Documents that Word closed with changes that were never saved: seen by one
// run with unsaved changes and a backup, and no longer there at a later run.
// Word may have crashed, been ended, or been told "Don't Save"; either way
// the last backup is all that is left of that work.
#include "engine/RunState.h"

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
    // A document of word that the run found, whether it had changes that
    // were not saved, and its file on disk (empty when it has none).
    void seen(const std::wstring& identity, const std::wstring& name, const WordProcess& word, bool unsaved,
              const std::wstring& file);
    // Its backup, written now: its newest until another is.
    void backedUp(const std::wstring& identity, const std::wstring& backupPath, const SYSTEMTIME& now);
    // A Word the run could not go through (busy, or gone mid-run): its
    // documents are not taken for closed this time.
    void notSeenThrough(const WordProcess& word);
    // At the end of a run: the documents with unsaved changes at their last
    // backup that this run did not see, each told once.  A document whose
    // file was written after the run that saw it was saved before it was
    // closed; one that a Word holding it saved under a new name meanwhile
    // ("Save As") shows as a new saved document of that Word: neither is
    // taken for closed.
    std::vector<ClosedDocument> runEnded();
    // No Word running at all: every document with unsaved changes is gone.
    std::vector<ClosedDocument> wordGone();

private:
    struct Known {
        std::wstring name;
        WordProcess word;
        bool unsaved = false;
        std::wstring file;
        std::uint64_t seenAt = 0;  // FILETIME ticks
        std::wstring backupPath;
        SYSTEMTIME backupTime{};
        bool seenNow = false;   // by the run under way
        bool isNew = false;     // first seen by the run under way
        bool keep = false;      // its Word was not gone through
    };
    std::map<std::wstring, Known> known_;  // by identity
};
