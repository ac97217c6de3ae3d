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

#include <utility>

RunContext::RunContext(const BackupOptions& options, RunHost& host, RunState& run, BackupJournal& journal,
                       HousekeepingMemory& memory, ClosedUnsavedWatch& watch)
    : options(options), host(host), run(run), journal(journal), watch(watch), housekeeping(options, memory, journal),
      clipboardCopy(run, housekeeping), packageCopy(run, housekeeping),
      packageWay(PackageWay(options)) {}

void RunContext::tellNotes() {
    if (housekeeping.skippedForSpace()) notes.insert(RunNote::NotEnoughSpace);
    if (housekeeping.refusedWriting()) notes.insert(RunNote::FolderRefusedWriting);
    for (RunNote note : notes) host.BackupNoted(note);
}

std::optional<SavedBackup> DocumentBackup::run() {
    if (!resolve()) return std::nullopt;
    t_.way = decideWay();
    if (t_.way.way == Way::None || !chooseFolder()) return std::nullopt;
    return writeAndRecord();
}

bool DocumentBackup::take() {
    // A saved document's file is its backup.
    if (!resolve() || t_.facts.savedInWord) return false;
    t_.way = decideWay();
    if (t_.way.way != Way::Package) return false;
    t_.flatOpc = c_.packageCopy.readFlatOpc(t_.backup);
    // Let go of while Word still answers: the write needs Word no more.
    t_.backup.document.reset();
    t_.doc.document.reset();
    t_.doc.word.reset();
    return t_.flatOpc.has_value();
}

std::optional<SavedBackup> DocumentBackup::writeTaken() {
    if (!chooseFolder()) return std::nullopt;
    return writeAndRecord();
}

std::optional<SavedBackup> DocumentBackup::writeAndRecord() {
    // A folder that refused writing is left alone while it still does.
    if (c_.housekeeping.stillRefusesWriting(folder_) || !write(t_.way)) return std::nullopt;
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
    guard.step(11, [&] { unlessClosed([&] { fullName = t_.backup.document.get(L"FullName").toText(); }); });
    if (closed || !fullName) return false;
    const Word& word = c_.run.user;
    t_.doc = ResolveOpenDocument(word.app, t_.backup.document, *fullName, word.process);
    t_.backup.identity = t_.doc.identity;
    c_.seen.insert(UpperCase(*fullName));
    guard.step(19, [&] { unlessClosed([&] { t_.savedInWord = t_.backup.document.get(L"Saved").toBool(); }); });
    if (closed) return false;
    c_.watch.seen(t_.doc, t_.savedInWord == false);

    t_.facts.packageWay = c_.packageWay;
    t_.facts.savedInWord = t_.savedInWord.value_or(false);
    t_.facts.onDisk = t_.doc.onDisk();
    t_.facts.packageName = IsWordPackageName(t_.doc.name);
    // A saved file of any kind that has not changed needs nothing of Word.
    if (t_.facts.savedInWord && t_.facts.onDisk && c_.options.skipUnchanged) t_.fileStamp = FileStamp(t_.doc.fullName);
    t_.facts.fileUnchanged = t_.fileStamp && c_.housekeeping.unchanged(t_.doc.identity, *t_.fileStamp);
    const Protection recoveredAs = c_.recovered.protectionOf(t_.doc.path, t_.doc.name);
    t_.facts.plainCopy = recoveredAs != Protection::None;
    t_.facts.plainOfRightsManaged = recoveredAs == Protection::RightsManaged;
    return true;
}

// Content that must not leave Word in plain: not knowing counts as protected.
WayDecision DocumentBackup::decideWay() {
    WayDecision way = DecideWay(t_.facts);
    if (way.way == Way::Protection) {
        t_.facts.protection = c_.guard()
                                .value(18, [&] { return ProtectionOf(t_.backup.document, c_.run.user.permissionIds); })
                                .value_or(Protection::Password);
        way = DecideWay(t_.facts);
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
    folder_ = t_.doc.path;
    // A document on the web: the folder its sync client keeps it in, else
    // the chosen location; never a question at each run.
    if (t_.doc.onTheWeb) {
        const std::wstring synced = SyncedFolderOf(t_.doc.path);
        folder_ = synced.empty() ? options.fixedFolder : synced;
        if (synced.empty()) c_.notes.insert(RunNote::WebDocumentInLocation);
        return true;
    }
    // A decrypted copy of a protected backup, or Word's comparison with one:
    // the chosen location, never the temporary folder that cleaners empty.
    if (t_.facts.plainCopy && !options.fixedFolder.empty()) folder_ = options.fixedFolder;
    // A never-saved document has no folder: ask until one is chosen, unless
    // the document is closed meanwhile.
    Guard& guard = c_.guard();
    while (folder_.empty() && c_.mayAsk && !guard.stopped()) {
        guard.step(14, [&] { folder_ = c_.host.AskForFolder(t_.doc.name + L" is unsaved. Please select location:"); });
        if (folder_.empty() && !guard.test(15, [&] { return IsStillOpen(t_.backup.document); })) break;
    }
    return !folder_.empty();
}

// 4d: the backup path, valid whatever the document is called, with the
// extension of the way it goes.
bool DocumentBackup::claimPath(const std::wstring& extension) {
    t_.backup.path.clear();
    c_.guard().step(17, [&] {
        t_.backup.path = ClaimBackupPath(c_.journal, t_.backup.identity,
                                       BackupPathFor(folder_, t_.doc.name, c_.options.createNewFile, extension),
                                       extension, c_.claimed);
        c_.claimed.insert(UpperCase(t_.backup.path));
        if (c_.options.createNewFile) c_.housekeeping.wrote(t_.backup.path, t_.backup.identity);
    });
    return !t_.backup.path.empty();
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
    return writeToFreeName(extension, c_.packageCopy, [&] { return c_.packageCopy.write(t_.backup, package); });
}

bool DocumentBackup::writeClassic() {
    const bool saved = writeToFreeName(c_.options.docExtension, c_.clipboardCopy,
                                       [&] { return c_.clipboardCopy.backUp(t_.backup); });
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
            if (std::optional<DocxPackage> file = ReadSavedPackage(t_.doc.fullName))
                return writePackage(*file, file->extension);
            t_.facts.fileUnreadable = true;
            break;
        case Way::Package:
            t_.backup.passwordProtected = way.encrypted;
            if (std::optional<DocxPackage> package =
                    t_.flatOpc ? c_.packageCopy.build(*std::exchange(t_.flatOpc, std::nullopt))
                               : c_.packageCopy.read(t_.backup)) {
                // "Report.docx Date ... PM.docx.protected"; a " (n)" goes before ".docx".
                const std::wstring suffix(way.encrypted ? kProtectedSuffix : L"");
                return writePackage(*package, package->extension + suffix);
            }
            // A taken document has left Word: no other way is left for it.
            if (!c_.packageCopy.unreadable() || !t_.backup.document) return false;
            t_.facts.packageUnreadable = true;
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
    const SavedBackup saved{t_.backup.path, t_.savedInWord.value_or(false), t_.doc.process};
    c_.guard().step(42, [&] {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        c_.journal.record({t_.doc.identity, t_.doc.name, t_.backup.path, Ticks(now),
                           BackupFileSize(t_.backup.path).value_or(0), 0,
                           saved.savedInWord ? UnsavedChanges::No : UnsavedChanges::Yes});
    });
    c_.guard().step(41, [&] {
        AppendHistoryLine(c_.options.historyFile,
                          t_.doc.name + L" was backup saved as " + t_.backup.path + L" at " + GeneralDate(LocalNow()));
    });
    // Its saved file is what went into the backup: skipped while it stays as it is.
    if (t_.fileStamp) c_.housekeeping.fileBackedUp(t_.doc.identity, *t_.fileStamp);
    c_.host.BackupSaved(saved);
    c_.watch.backedUp(t_.doc.identity.key(), t_.backup.path, LocalNow());
    return saved;
}
