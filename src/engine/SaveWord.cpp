#include "engine/SaveWord.h"

#include "common/Guard.h"
#include "common/Handle.h"
#include "common/Services.h"
#include "common/Text.h"
#include "engine/DocumentCopy.h"
#include "engine/ProtectedContent.h"
#include "engine/RecoveredCopies.h"
#include "engine/RunState.h"
#include "engine/WebFolders.h"
#include "engine/WordInstances.h"
#include "engine/WordProbes.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <unordered_set>
#include <utility>

namespace {

// Points the run object at the run under way for as long as it lasts.
class ActiveRun {
public:
    ActiveRun(RunState*& slot, RunState& state) : slot_(slot) { slot_ = &state; }
    ~ActiveRun() { slot_ = nullptr; }

private:
    RunState*& slot_;
};

}  // namespace

BackupRun::BackupRun() = default;
BackupRun::~BackupRun() = default;

void BackupRun::FinishRunNow() {
    if (!state_ || state_->finished) return;
    if (state_->guard) state_->guard->stop();
    // Nobody is left to read a report: the window is closing.
    Guard quiet = Guard::Quiet();
    state_->finish(quiet);
}

RunOutcome BackupRun::SaveAll(BackupOptions options, RunHost& host) {
    // A click on the test button while a run waits for the clipboard or the
    // folder picker is ignored: the run under way covers every document.
    if (state_) return RunOutcome::AlreadyRunning;
    RunState run(options.owner);
    ActiveRun active(state_, run);
    // Copies of protected backups that Word has let go of since the last run.
    RemoveReleasedCopies();

    // 1: every Word the user works in.
    WordInstances instances;
    switch (instances.find()) {
    case WordState::NotRunning:
        // Word is gone, and with it whatever was never saved.
        if (std::vector<ClosedDocument> closed = closedUnsaved_.wordGone(); !closed.empty())
            host.DocumentsClosedUnsaved(closed);
        return RunOutcome::NoWord;
    case WordState::Busy: return RunOutcome::WordDidNotAnswer;
    case WordState::Running: break;
    }
    host.BackupStarted();
    struct Ended {
        RunHost& host;
        ~Ended() { host.BackupEnded(); }
    } ended{host};

    // Each Word's failures are its own: a Word that dies or stays busy stops
    // only its own documents.
    auto freshGuard = [&run] {
        Guard guard(L"SaveWord", L"SaveAll");
        guard.stopAfter([&run](const Failure& failure) { return run.endsRunAfter(failure); });
        return guard;
    };
    Guard guard = freshGuard();
    run.guard = &guard;

    if (!journal_ || journal_->file() != options.journalFile)
        journal_ = std::make_unique<BackupJournal>(options.journalFile);
    journal_->refresh();
    BackupJournal& journal = *journal_;
    std::unordered_set<std::wstring> claimed;  // upper case: the paths given out in this run, written or not
    RunHousekeeping housekeeping(options, housekeepingMemory_, journal);
    ClipboardCopy clipboardCopy(run, housekeeping);
    PackageCopy packageCopy(run, housekeeping);
    FileCopy fileCopy(housekeeping);
    // Word 2007 and later (a version above 11, for which start-up chose
    // ".docx") give each document's package.  A run that goes the classic
    // way for every document makes what it needs first, as it always has;
    // otherwise only the first document that needs it does.
    const bool packageWay = !options.clipboardCopy && options.docExtension == L".docx";
    // Without the user's content in hand the run must not touch the
    // clipboard at all; the next run tries again.
    if (!packageWay && (!clipboardCopy.takeClipboard() || run.finished)) return RunOutcome::Done;

    if (!packageWay) clipboardCopy.start();

    RecoveredContent recovered;
    bool throughAll = true;  // every Word's documents gone through

    std::wstring folder;
    std::set<RunNote> notes;
    std::set<std::wstring> seen;  // full names gone through, upper case
    short ordinal = 0;            // the document's place in the run, across Words
    // Document i of the user's Word, held through its steps from the
    // collection's snapshot: never mistaken for another one that moved to
    // its place meanwhile.
    auto backUpDocument = [&](short i, const Dispatch& document) {
        ++ordinal;
        // 4a: a document closed since the snapshot has gone.
        bool closed = false;
        auto unlessClosed = [&](auto&& read) {
            try {
                read();
            } catch (const Failure& failure) {
                if (failure.number() != kWordObjectDeleted) throw;
                closed = true;
            }
        };
        // One call gives the folder (for the backup beside it, to tell
        // documents of one name apart, and for the size of the saved file)
        // and the name.
        std::wstring name, documentPath, fullName;
        guard.step(11, [&] {
            unlessClosed([&] { fullName = document.get(L"FullName").toText(); });
            SplitFullName(fullName, documentPath, name);
        });
        if (closed) return;
        if (!fullName.empty()) seen.insert(UpperCase(fullName));
        const bool onTheWeb = IsWebAddress(documentPath);

        // A document Word says is saved is its file: a Word package on disk
        // is copied from there.
        std::optional<bool> savedInWord;
        guard.step(19, [&] { unlessClosed([&] { savedInWord = document.get(L"Saved").toBool(); }); });
        if (closed) return;
        // Its full name, or its name within its Word when never saved.
        const std::wstring key =
            documentPath.empty() ? name : documentPath + (onTheWeb ? L"/" : L"\\") + name;
        const DocumentIdentity identity{key, documentPath.empty(), run.user.process};
        closedUnsaved_.seen(identity.key(), name, run.user.process, savedInWord == false,
                            documentPath.empty() || onTheWeb ? std::wstring() : key);
        // Its file is plain where Word holds a recovered copy of a protected
        // backup: such content leaves Word only encrypted.
        const Protection recoveredAs = recovered.protectionOf(documentPath, name);
        const bool plainCopy = recoveredAs != Protection::None;
        bool fromFile = packageWay && savedInWord.value_or(false) && !documentPath.empty() && !onTheWeb &&
                        IsWordPackageName(name) && !plainCopy;

        // Content that must not leave Word in plain: a rights-managed
        // document gets no backup, a password-protected one only an
        // encrypted one, which the classic way cannot make.  Not knowing
        // counts as protected.  Its file is as protected as Word keeps it.
        Protection protection = Protection::None;
        auto mayLeaveWord = [&] {
            protection = guard.value(18, [&] { return ProtectionOf(document, run.user.permissionIds); })
                             .value_or(Protection::Password);
            if (protection == Protection::Closed) return false;
            // A decrypted copy of a protected backup, or Word's comparison
            // with protected content: rights management's outranks a password.
            if (recoveredAs == Protection::RightsManaged || (plainCopy && protection == Protection::None))
                protection = recoveredAs;
            if (protection == Protection::RightsManaged || (protection == Protection::Password && !packageWay)) {
                notes.insert(protection == Protection::RightsManaged ? RunNote::RightsManaged
                                                                     : RunNote::PasswordProtected);
                return false;
            }
            return true;
        };
        if (!fromFile && !mayLeaveWord()) return;

        // 4c: the folder.
        if (options.saveBesideDocuments) {
            if (guard.test(12, [&] { return run.user.count() >= i; }))
                guard.step(13, [&] { folder = documentPath; });
            // A document on the web: the folder its sync client keeps it
            // in, else the chosen location; never a question at each run.
            if (onTheWeb) {
                const std::wstring synced = SyncedFolderOf(documentPath);
                folder = synced.empty() ? options.fixedFolder : synced;
                if (synced.empty()) notes.insert(RunNote::WebDocumentInLocation);
            }
            // A decrypted copy of a protected backup, or Word's comparison
            // with one: the chosen location, never the temporary folder that
            // cleaners empty.
            if (plainCopy && !options.fixedFolder.empty()) folder = options.fixedFolder;
            // A never-saved document has no folder: ask until one is chosen,
            // unless the document is closed meanwhile.
            while (folder.empty() && !onTheWeb && !guard.stopped()) {
                guard.step(14, [&] {
                    folder = host.AskForFolder(name + L" is unsaved. Please select location:");
                });
                if (folder.empty() && !guard.test(15, [&] { return run.user.count() >= i; })) break;
            }
        } else if (options.saveToFixedFolder) {
            guard.step(16, [&] { folder = options.fixedFolder; });
        }

        // 4d: the backup path, valid whatever the document is called, with
        // the extension of the way it goes.
        RunDocument backup{i,
                           document,
                           key,
                           identity,
                           {},
                           protection == Protection::Password,
                           run.user.process,
                           savedInWord.value_or(false)};
        // A folder that refused writing is left alone while it still does.
        if (housekeeping.stillRefusesWriting(folder)) return;
        auto claimPath = [&](const std::wstring& extension) {
            backup.path.clear();
            guard.step(17, [&] {
                backup.path = ClaimBackupPath(journal, backup.identity,
                                              BackupPathFor(folder, name, options.createNewFile, extension),
                                              extension, claimed);
                claimed.insert(UpperCase(backup.path));
                if (options.createNewFile) housekeeping.wrote(backup.path, backup.identity);
            });
            return !backup.path.empty();
        };
        // A file of its own that another program keeps open (the user opened
        // the day's backup): the content goes to the next name, since a
        // claimed name is not given again in this run.
        auto writeToFreeName = [&](const std::wstring& extension, const auto& way, auto write) {
            bool written = claimPath(extension) && write();
            for (int attempt = 0; !written && way.held() && attempt < 3; ++attempt)
                written = claimPath(extension) && write();
            return written;
        };
        auto writePackage = [&](const DocxPackage& package, const std::wstring& extension) {
            return writeToFreeName(extension, packageCopy, [&] { return packageCopy.write(backup, package); });
        };
        bool saved = false, classic = !packageWay;
        if (fromFile) {
            if (std::optional<DocxPackage> file = fileCopy.read(backup, fullName))
                saved = writePackage(*file, file->extension);
            // A file that could not be read as it stands: Word's package.
            else if (!fileCopy.unchanged() && mayLeaveWord())
                fromFile = false, backup.passwordProtected = protection == Protection::Password;
        }
        if (packageWay && !fromFile) {
            if (std::optional<DocxPackage> package = packageCopy.read(backup)) {
                // "Report.docx Date ... PM.docx.protected"; a " (n)" goes before ".docx".
                const std::wstring suffix(backup.passwordProtected ? kProtectedSuffix : L"");
                saved = writePackage(*package, package->extension + suffix);
            }
            classic = packageCopy.unreadable();
            if (classic && backup.passwordProtected) {
                notes.insert(RunNote::PasswordProtected);
                classic = false;
            }
        }
        if (classic) {
            saved = writeToFreeName(options.docExtension, clipboardCopy, [&] { return clipboardCopy.backUp(backup); });
            // 4k: the classic procedure's; the package way leaves Word alone.
            guard.step(40, [&] { run.user.app.put(L"DisplayAlerts", true); });
        }

        // 4l.
        // Only a backup that was written is logged.
        if (saved) {
            guard.step(42, [&] {
                FILETIME now;
                GetSystemTimeAsFileTime(&now);
                journal.record({backup.identity, name, backup.path,
                                (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime,
                                BackupFileSize(backup.path).value_or(0), 0,
                                backup.savedInWord ? UnsavedChanges::No : UnsavedChanges::Yes});
            });
            guard.step(41, [&] {
                AppendHistoryLine(options.historyFile,
                                  name + L" was backup saved as " + backup.path + L" at " + GeneralDate(LocalNow()));
            });
            host.BackupSaved({backup.path, backup.savedInWord, backup.process});
            closedUnsaved_.backedUp(backup.identity.key(), backup.path, LocalNow());
        }
    };

    // 2-4: each Word in turn, its documents in collection order; then the
    // Words that only the running-object table knows.
    std::vector<FoundWord> words = instances.backedUp();
    bool tableAsked = false;
    closedUnsaved_.runStarted();
    for (size_t w = 0; w < words.size() && !run.finished && !run.clipboardInUse; ++w) {
        if (w > 0) guard = freshGuard();
        run.user.reset();
        run.user.process = words[w].process;
        std::vector<Dispatch> documents;
        bool listed = false;
        guard.step(2, [&] {
            run.user.attach(words[w].app);
            documents = run.user.snapshot();
            listed = true;
        });
        short i = 0;
        for (const Dispatch& document : documents)
            if (!guard.stopped()) backUpDocument(++i, document);
        throughAll = throughAll && listed && !guard.stopped();
        // A Word that died or stayed busy: its documents may still be open.
        if (!listed || guard.stopped()) closedUnsaved_.notSeenThrough(words[w].process);
        if (w + 1 == words.size() && !run.finished && !std::exchange(tableAsked, true)) {
            if (guard.stopped()) guard = freshGuard();
            guard.step(6, [&] { std::ranges::move(instances.fromRunningObjectTable(seen), std::back_inserter(words)); });
        }
    }
    if (!run.finished) guard = freshGuard();

    if (throughAll && !run.finished) recovered.forgetClosedComparisons();
    guard.step(45, [&] {
        const std::wstring line = housekeeping.prune();
        if (!line.empty()) AppendHistoryLine(options.historyFile, line);
    });
    journal.compactIfMostlyGone();
    if (housekeeping.skippedForSpace()) notes.insert(RunNote::NotEnoughSpace);
    if (housekeeping.refusedWriting()) notes.insert(RunNote::FolderRefusedWriting);
    for (RunNote note : notes) host.BackupNoted(note);
    // Only a run that went through every Word knows what is gone.
    if (!run.finished && !run.clipboardInUse)
        if (std::vector<ClosedDocument> closed = closedUnsaved_.runEnded(); !closed.empty())
            host.DocumentsClosedUnsaved(closed);

    // 5, 6: unless a closing window has done it already.
    if (!run.finished) {
        Guard cleanup(L"SaveWord", L"SaveAll");
        run.finish(cleanup);
    }
    return RunOutcome::Done;
}
