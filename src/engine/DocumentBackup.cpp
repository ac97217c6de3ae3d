// Steps (the run's): 11 FullName, 19 Saved, 18 protection, 14/15 the
// folder picker and whether the document is still open, 17 the backup path,
// 40 the classic way's DisplayAlerts, 42 the journal, 41 the history line.
#include "engine/DocumentBackup.h"

#include "common/FileTime.h"
#include "common/Services.h"
#include "common/Text.h"
#include "engine/BackupName.h"
#include "engine/HistoryFile.h"
#include "engine/ProtectedContent.h"
#include "engine/WebFolders.h"

RunContext::RunContext(const BackupOptions& options, RunHost& host, RunState& run, BackupJournal& journal,
                       HousekeepingMemory& memory, ClosedUnsavedWatch& watch)
    : options(options), host(host), run(run), journal(journal), watch(watch), housekeeping(options, memory, journal),
      clipboardCopy(run, housekeeping), packageCopy(run, housekeeping),
      packageWay(!options.clipboardCopy && options.docExtension == L".docx") {}

void RunContext::tellNotes() {
    if (housekeeping.skippedForSpace()) notes.insert(RunNote::NotEnoughSpace);
    if (housekeeping.refusedWriting()) notes.insert(RunNote::FolderRefusedWriting);
    for (RunNote note : notes) host.BackupNoted(note);
}

std::optional<SavedBackup> DocumentBackup::run() {
    if (!resolve()) return std::nullopt;
    const WayDecision way = decideWay();
    if (way.way == Way::None || !chooseFolder()) return std::nullopt;
    // A folder that refused writing is left alone while it still does.
    if (c_.housekeeping.stillRefusesWriting(folder_) || !write(way)) return std::nullopt;
    return record();
}

// What Word says of the document: one call for its name and folder, one for
// whether it is saved.  False when it was closed meanwhile (it alone is
// skipped) or Word could not say.
bool DocumentBackup::resolve() {
    Guard& guard = c_.guard();
    bool closed = false;
    auto unlessClosed = [&](auto&& read) {
        try {
            read();
        } catch (const Failure& failure) {
            if (failure.number() != kWordObjectDeleted) throw;
            closed = true;
        }
    };
    std::optional<std::wstring> fullName;
    guard.step(11, [&] { unlessClosed([&] { fullName = backup_.document.get(L"FullName").toText(); }); });
    if (closed || !fullName) return false;
    const Word& word = c_.run.user;
    doc_ = ResolveOpenDocument(word.app, backup_.document, *fullName, word.process);
    backup_.identity = doc_.identity;
    c_.seen.insert(UpperCase(*fullName));
    guard.step(19, [&] { unlessClosed([&] { savedInWord_ = backup_.document.get(L"Saved").toBool(); }); });
    if (closed) return false;
    c_.watch.seen(doc_, savedInWord_ == false);

    facts_.packageWay = c_.packageWay;
    facts_.savedInWord = savedInWord_.value_or(false);
    facts_.onDisk = doc_.onDisk();
    facts_.packageName = IsWordPackageName(doc_.name);
    // A saved file of any kind that has not changed needs nothing of Word.
    if (facts_.savedInWord && facts_.onDisk && c_.options.skipUnchanged) fileStamp_ = FileStamp(doc_.fullName);
    facts_.fileUnchanged = fileStamp_ && c_.housekeeping.unchanged(doc_.identity, *fileStamp_);
    const Protection recoveredAs = c_.recovered.protectionOf(doc_.path, doc_.name);
    facts_.plainCopy = recoveredAs != Protection::None;
    facts_.plainOfRightsManaged = recoveredAs == Protection::RightsManaged;
    return true;
}

// Content that must not leave Word in plain: not knowing counts as protected.
WayDecision DocumentBackup::decideWay() {
    WayDecision way = DecideWay(facts_);
    if (way.way == Way::Protection) {
        facts_.protection = c_.guard()
                                .value(18, [&] { return ProtectionOf(backup_.document, c_.run.user.permissionIds); })
                                .value_or(Protection::Password);
        way = DecideWay(facts_);
    }
    if (way.note) c_.notes.insert(*way.note);
    return way;
}

// 4c: the chosen folder, or the document's own.  False when a never-saved
// document's folder was not chosen before it was closed.
bool DocumentBackup::chooseFolder() {
    const BackupOptions& options = c_.options;
    if (!options.saveBesideDocuments) {
        if (options.saveToFixedFolder) folder_ = options.fixedFolder;
        return true;
    }
    folder_ = doc_.path;
    // A document on the web: the folder its sync client keeps it in, else
    // the chosen location; never a question at each run.
    if (doc_.onTheWeb) {
        const std::wstring synced = SyncedFolderOf(doc_.path);
        folder_ = synced.empty() ? options.fixedFolder : synced;
        if (synced.empty()) c_.notes.insert(RunNote::WebDocumentInLocation);
        return true;
    }
    // A decrypted copy of a protected backup, or Word's comparison with one:
    // the chosen location, never the temporary folder that cleaners empty.
    if (facts_.plainCopy && !options.fixedFolder.empty()) folder_ = options.fixedFolder;
    // A never-saved document has no folder: ask until one is chosen, unless
    // the document is closed meanwhile.
    Guard& guard = c_.guard();
    while (folder_.empty() && c_.mayAsk && !guard.stopped()) {
        guard.step(14, [&] { folder_ = c_.host.AskForFolder(doc_.name + L" is unsaved. Please select location:"); });
        if (folder_.empty() && !guard.test(15, [&] { return IsStillOpen(backup_.document); })) break;
    }
    return !folder_.empty();
}

// 4d: the backup path, valid whatever the document is called, with the
// extension of the way it goes.
bool DocumentBackup::claimPath(const std::wstring& extension) {
    backup_.path.clear();
    c_.guard().step(17, [&] {
        backup_.path = ClaimBackupPath(c_.journal, backup_.identity,
                                       BackupPathFor(folder_, doc_.name, c_.options.createNewFile, extension),
                                       extension, c_.claimed);
        c_.claimed.insert(UpperCase(backup_.path));
        if (c_.options.createNewFile) c_.housekeeping.wrote(backup_.path, backup_.identity);
    });
    return !backup_.path.empty();
}

// A file of its own that another program keeps open (the user opened the
// day's backup): the content goes to the next name, since a claimed name is
// not given again in this run.
template <class Copy, class Write>
bool DocumentBackup::writeToFreeName(const std::wstring& extension, const Copy& copy, Write write) {
    bool written = claimPath(extension) && write();
    for (int attempt = 0; !written && copy.held() && attempt < 3; ++attempt) written = claimPath(extension) && write();
    return written;
}

bool DocumentBackup::writePackage(const DocxPackage& package, const std::wstring& extension) {
    return writeToFreeName(extension, c_.packageCopy, [&] { return c_.packageCopy.write(backup_, package); });
}

bool DocumentBackup::writeClassic() {
    const bool saved = writeToFreeName(c_.options.docExtension, c_.clipboardCopy,
                                       [&] { return c_.clipboardCopy.backUp(backup_); });
    // 4k: the classic procedure's; the package way leaves Word alone.
    c_.guard().step(40, [&] { c_.run.user.app.put(L"DisplayAlerts", true); });
    return saved;
}

// The way decided, and the next one where it cannot be gone: a file that
// cannot be read as it stands goes as Word's package, a package Word will
// not give the classic way.
bool DocumentBackup::write(WayDecision way) {
    for (;;) {
        switch (way.way) {
        case Way::File:
            if (std::optional<DocxPackage> file = ReadSavedPackage(doc_.fullName))
                return writePackage(*file, file->extension);
            facts_.fileUnreadable = true;
            break;
        case Way::Package:
            backup_.passwordProtected = way.encrypted;
            if (std::optional<DocxPackage> package = c_.packageCopy.read(backup_)) {
                // "Report.docx Date ... PM.docx.protected"; a " (n)" goes before ".docx".
                const std::wstring suffix(way.encrypted ? kProtectedSuffix : L"");
                return writePackage(*package, package->extension + suffix);
            }
            if (!c_.packageCopy.unreadable()) return false;
            facts_.packageUnreadable = true;
            break;
        case Way::Classic: return writeClassic();
        case Way::Protection:
        case Way::None: return false;
        }
        way = decideWay();
    }
}

// 4l: only a backup that was written is logged.
SavedBackup DocumentBackup::record() {
    const SavedBackup saved{backup_.path, savedInWord_.value_or(false), doc_.process};
    c_.guard().step(42, [&] {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        c_.journal.record({doc_.identity, doc_.name, backup_.path, Ticks(now),
                           BackupFileSize(backup_.path).value_or(0), 0,
                           saved.savedInWord ? UnsavedChanges::No : UnsavedChanges::Yes});
    });
    c_.guard().step(41, [&] {
        AppendHistoryLine(c_.options.historyFile,
                          doc_.name + L" was backup saved as " + backup_.path + L" at " + GeneralDate(LocalNow()));
    });
    // Its saved file is what went into the backup: skipped while it stays as it is.
    if (fileStamp_) c_.housekeeping.fileBackedUp(doc_.identity, *fileStamp_);
    c_.host.BackupSaved(saved);
    c_.watch.backedUp(doc_.identity.key(), backup_.path, LocalNow());
    return saved;
}
