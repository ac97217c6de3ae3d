#pragma once
// What a backup run tells, and asks of, the window that started it.
#include "engine/ClosedUnsaved.h"
#include "engine/DocumentWay.h"
#include "engine/WordInstances.h"

#include <string>
#include <vector>

// A backup the run wrote.
struct SavedBackup {
    std::wstring path;
    bool savedInWord = false;  // Word said the document had no unsaved changes
    WordProcess process;       // of the Word that holds the document
};

class RunHost {
public:
    virtual ~RunHost() = default;
    // The folder of a never-saved document (the folder picker, owned by the
    // window); empty when cancelled.
    virtual std::wstring AskForFolder(const std::wstring& prompt) = 0;
    // Told at the end of a run, once for each note that holds for it.
    virtual void BackupNoted(RunNote) {}
    // Told when the run has found Word and begins backing up, and when that
    // backing up is over; not told for a run that finds nothing to do.
    virtual void BackupStarted() {}
    virtual void BackupEnded() {}
    // Told of each Word of the user's that the run backs up, before its documents.
    virtual void WordFound(const FoundWord&) {}
    // Told of each backup written, as it is logged.
    virtual void BackupSaved(const SavedBackup&) {}
    // Told at the end of a run of the documents that Word closed with
    // changes that were never saved since the run before; not told of none.
    virtual void DocumentsClosedUnsaved(const std::vector<ClosedDocument>& /*closed*/) {}
};
