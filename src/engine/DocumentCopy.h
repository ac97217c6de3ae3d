#pragma once
// The per-document step of a backup run that produces the backup file.
// Each way of copying a document is one implementation; the run chooses one
// per document and does the rest (folder, name, history line) the same way.
#include "common/Automation.h"
#include "engine/BackupJournal.h"
#include "engine/Package.h"
#include "engine/RunState.h"

#include <optional>
#include <set>
#include <string>

struct RunState;
class RunHousekeeping;

// What a way of copying needs of a document.
struct RunDocument {
    Dispatch document;  // held through its steps
    DocumentIdentity identity;
    std::wstring path;  // the backup path it gets
    bool passwordProtected = false;  // only its package, encrypted, may be written
};

class DocumentCopy {
public:
    virtual ~DocumentCopy() = default;
    // Before the first document: whatever the copy needs for the run.
    virtual void start() {}
    // Writes the document's backup to its path; answers whether one was
    // written (only then is it logged).  Failures are reported under the
    // run's guard, which a failure may stop.
    virtual bool backUp(const RunDocument& document) = 0;
};

// The classic way: the document's content through the clipboard into a new
// document of the run's backup instance, saved under the backup name; then
// the same copy once more into a scratch document, closed unsaved.  What it
// needs is made at its first document unless start() made it before.
class ClipboardCopy final : public DocumentCopy {
public:
    ClipboardCopy(RunState& run, RunHousekeeping& housekeeping) : run_(run), housekeeping_(housekeeping) {}
    // Once: the user's clipboard content, kept to be put back at the end
    // (step 1).  False when it could not be taken: the way must then not
    // touch the clipboard at all.
    bool takeClipboard();
    // Once: the backup and the scratch instance (steps 3, 4).
    void start() override;
    bool backUp(const RunDocument& document) override;
    // Whether the last backUp found its name held by another program past
    // the retry bound: the backup goes to another name.
    bool held() const { return held_; }

private:
    RunState& run_;
    RunHousekeeping& housekeeping_;
    bool clipboardTried_ = false, clipboardTaken_ = false, started_ = false, held_ = false;
};

// The package way (Word 2007 and later): one read of the document's
// WordOpenXML in the user's Word, written as the .docx itself; no instance
// of ours and no clipboard.  Read first, since the package tells the
// backup's extension, and so its path; then written.
class PackageCopy final {
public:
    PackageCopy(RunState& run, RunHousekeeping& housekeeping) : run_(run), housekeeping_(housekeeping) {}
    // The document's package as a .docx (its path not needed yet); none when
    // it was closed, failed (reported), or is unreadable().
    std::optional<DocxPackage> read(const RunDocument& document);
    // read() in two: Word's Flat OPC of the document (none as above), then
    // the .docx built from it, which needs Word no more.
    std::optional<std::wstring> readFlatOpc(const RunDocument& document);
    std::optional<DocxPackage> build(const std::wstring& flatOpc);
    // Writes what read gave to the document's path; answers whether it did.
    bool write(const RunDocument& document, const DocxPackage& package);
    // Whether the last write found a file at the path that another program
    // kept holding: the backup goes to another name.
    bool held() const { return held_; }
    // Whether the last document's package could not be read (Word would not
    // give it, or gave a malformed one): that document goes the classic way.
    bool unreadable() const { return unreadable_; }

private:
    RunState& run_;
    RunHousekeeping& housekeeping_;
    bool unreadable_ = false, held_ = false;
    std::set<std::wstring> cleanedFolders_;  // upper case
};

// A saved Word package's file, the document's content as it stands, without
// asking Word for anything.  The backup keeps the file's extension; a
// password-protected file is Word's own encryption and stays as it is.
// None when it could not be read as it stands (a save met twice, not a
// package): Word's package is then asked for instead.
std::optional<DocxPackage> ReadSavedPackage(const std::wstring& file);

// What a file is on disk now (its size and last write), as a fingerprint
// that skipping unchanged documents compares: none when it cannot be read.
std::optional<ContentFingerprint> FileStamp(const std::wstring& file);

// Whether a file of this name is one of Word's packages (.docx, .docm,
// .dotx, .dotm), whose bytes are the document.
bool IsWordPackageName(const std::wstring& name);
