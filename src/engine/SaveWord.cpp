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
#include "engine/WordProbes.h"

#include <set>
#include <unordered_set>

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

    switch (ProbeRunningWord()) {
    case WordState::NotRunning: return RunOutcome::NoWord;
    case WordState::Busy: return RunOutcome::WordDidNotAnswer;
    case WordState::Running: break;
    }
    host.BackupStarted();
    struct Ended {
        RunHost& host;
        ~Ended() { host.BackupEnded(); }
    } ended{host};

    Guard guard(L"SaveWord", L"SaveAll");
    run.guard = &guard;
    guard.stopAfter([&run](const Failure& failure) { return run.endsRunAfter(failure); });

    if (!journal_ || journal_->file() != options.journalFile)
        journal_ = std::make_unique<BackupJournal>(options.journalFile);
    journal_->refresh();
    BackupJournal& journal = *journal_;
    std::unordered_set<std::wstring> claimed;  // upper case: the paths given out in this run, written or not
    RunHousekeeping housekeeping(options, housekeepingMemory_, journal);
    ClipboardCopy clipboardCopy(run, housekeeping);
    PackageCopy packageCopy(run, housekeeping);
    // Word 2007 and later (a version above 11, for which start-up chose
    // ".docx") give each document's package.  A run that goes the classic
    // way for every document makes what it needs first, as it always has;
    // otherwise only the first document that needs it does.
    const bool packageWay = !options.clipboardCopy && options.docExtension == L".docx";
    // Without the user's content in hand the run must not touch the
    // clipboard at all; the next run tries again.
    if (!packageWay && (!clipboardCopy.takeClipboard() || run.finished)) return RunOutcome::Done;

    guard.step(2, [&] {
        run.user.attach(Dispatch::GetActive(kWordProgId));
        run.user.process = ProcessOfWord(run.user.app);
    });
    if (!packageWay) clipboardCopy.start();

    short total = 0;
    bool counted = false;
    guard.step(5, [&] {
        total = run.user.count();
        counted = true;
    });
    RecoveredContent recovered;

    std::wstring folder;
    std::set<RunNote> notes;
    for (short i = 1; i <= total && !guard.stopped(); ++i) {
        // 4a: documents may have been closed while an earlier one waited.
        if (!guard.test(10, [&] { return run.user.count() >= i; })) continue;
        // Document i is held through its steps: asked for once, and never
        // mistaken for another one that moved to its place meanwhile.
        Dispatch document;
        std::wstring name, documentPath;
        guard.step(11, [&] {
            document = run.user.document(i);
            name = document.get(L"name").toText();
            // The folder: for the backup beside it, to tell documents of one
            // name apart, and for the size of the saved file, which the
            // free-space check weighs.
            documentPath = document.get(L"path").toText();
        });

        // Content that must not leave Word in plain: a rights-managed
        // document gets no backup, a password-protected one only an
        // encrypted one, which the classic way cannot make.  Not knowing
        // counts as protected.
        Protection protection = Protection::None;
        if (document)
            protection = guard.value(18, [&] { return ProtectionOf(document, run.user.permissionIds); })
                             .value_or(Protection::Password);
        if (protection == Protection::Closed) continue;
        // A decrypted copy of a protected backup, or Word's comparison with one.
        if (recovered.isPlainCopy(documentPath, name) && protection == Protection::None)
            protection = Protection::Password;
        if (protection == Protection::RightsManaged || (protection == Protection::Password && !packageWay)) {
            notes.insert(protection == Protection::RightsManaged ? RunNote::RightsManaged : RunNote::PasswordProtected);
            continue;
        }

        // 4c: the folder.
        const bool onTheWeb = IsWebAddress(documentPath);
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
        const std::wstring key =
            documentPath.empty() ? name : documentPath + (onTheWeb ? L"/" : L"\\") + name;  // its FullName
        RunDocument backup{i, document, key, {key, documentPath.empty(), run.user.process}, {},
                           protection == Protection::Password};
        // A folder that refused writing is left alone while it still does.
        if (housekeeping.stillRefusesWriting(folder)) continue;
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
        bool saved = false, classic = !packageWay;
        if (packageWay) {
            if (std::optional<DocxPackage> package = packageCopy.read(backup)) {
                // "Report.docx Date ... PM.docx.protected"; a " (n)" goes before ".docx".
                const std::wstring suffix(backup.passwordProtected ? kProtectedSuffix : L"");
                saved = claimPath(package->extension + suffix) && packageCopy.write(backup, *package);
                // A file of its own that another program keeps open (the user
                // opened the day's backup): the content goes to the next name,
                // since a claimed name is not given again in this run.
                for (int attempt = 0; !saved && packageCopy.held() && attempt < 3; ++attempt)
                    saved = claimPath(package->extension + suffix) && packageCopy.write(backup, *package);
            }
            classic = packageCopy.unreadable();
            if (classic && backup.passwordProtected) {
                notes.insert(RunNote::PasswordProtected);
                classic = false;
            }
        }
        if (classic) {
            saved = claimPath(options.docExtension) && clipboardCopy.backUp(backup);
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
                                BackupFileSize(backup.path).value_or(0)});
            });
            guard.step(41, [&] {
                AppendHistoryLine(options.historyFile,
                                  name + L" was backup saved as " + backup.path + L" at " + GeneralDate(LocalNow()));
            });
            host.BackupSaved(backup.path);
        }
    }

    if (counted && !guard.stopped()) recovered.forgetClosedComparisons();
    guard.step(45, [&] {
        const std::wstring line = housekeeping.prune();
        if (!line.empty()) AppendHistoryLine(options.historyFile, line);
    });
    journal.compactIfMostlyGone();
    if (housekeeping.skippedForSpace()) notes.insert(RunNote::NotEnoughSpace);
    if (housekeeping.refusedWriting()) notes.insert(RunNote::FolderRefusedWriting);
    for (RunNote note : notes) host.BackupNoted(note);

    // 5, 6: unless a closing window has done it already.
    if (!run.finished) {
        Guard cleanup(L"SaveWord", L"SaveAll");
        run.finish(cleanup);
    }
    return RunOutcome::Done;
}
