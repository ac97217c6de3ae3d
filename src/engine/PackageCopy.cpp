// The package way: the document's Flat OPC from the user's Word, written as
// the .docx without the clipboard or a Word of our own.
//
// Steps: 60 read WordOpenXML, 61 build the .docx, 62 leftovers of a crashed
// write removed, 65 encrypted for a password-protected document, 63
// housekeeping (unchanged content, free space), 64 write.
#include "engine/DocumentCopy.h"

#include "common/CompleteFile.h"
#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "engine/Package.h"
#include "engine/ProtectedContent.h"
#include "engine/RunState.h"

#include <optional>

namespace {

// A failure that says nothing about this document's package: Word gone or
// not answering, or the clipboard held (which ends the run).
bool IsAboutWord(const Failure& failure) {
    return IsServerGone(failure) || DidNotAnswer(failure) || IsClipboardInUse(failure);
}

}  // namespace

std::optional<DocxPackage> PackageCopy::read(const RunDocument& doc) {
    const std::optional<std::wstring> flatOpc = readFlatOpc(doc);
    return flatOpc ? build(*flatOpc) : std::nullopt;
}

std::optional<std::wstring> PackageCopy::readFlatOpc(const RunDocument& doc) {
    Guard& guard = *run_.guard;
    unreadable_ = false;
    if (!doc.document) return std::nullopt;  // its failed read was reported
    // The classic way is the promised fallback for a package Word will not
    // give (rights-managed content, a document it cannot serialise), so that
    // read failing is not reported; a failure of the classic way is.
    std::optional<std::wstring> flatOpc;
    guard.step(60, [&] {
        try {
            CallScope whole(CallAnswerBounds().document);
            flatOpc = doc.document.get(L"WordOpenXML").toText();
        } catch (const Failure& failure) {
            if (IsAboutWord(failure)) throw;
            // A document closed meanwhile gets no backup, as in the classic way.
            unreadable_ = failure.number() != kWordObjectDeleted;
        }
    });
    if (run_.finished) return std::nullopt;
    return flatOpc;
}

std::optional<DocxPackage> PackageCopy::build(const std::wstring& flatOpc) {
    unreadable_ = false;
    std::optional<DocxPackage> package;
    run_.guard->step(61, [&] {
        try {
            package = DocxFromFlatOpc(flatOpc);
        } catch (const Failure& failure) {
            if (!failure.description().starts_with(kPackageUnreadable)) throw;
            unreadable_ = true;
        }
    });
    return package;
}

bool PackageCopy::write(const RunDocument& doc, const DocxPackage& package) {
    Guard& guard = *run_.guard;
    held_ = false;
    // A crash mid-write leaves one temporary file; the run's first package
    // for a folder clears those of earlier runs, before the space is weighed.
    const std::wstring folder = doc.path.substr(0, doc.path.find_last_of(L'\\') + 1);
    if (cleanedFolders_.insert(UpperCase(folder)).second) guard.step(62, [&] { RemoveUnfinishedFiles(folder); });
    std::string encrypted;
    if (doc.passwordProtected) {
        guard.step(65, [&] { encrypted = ProtectedBackup(package.bytes, doc.identity.name); });
        if (encrypted.empty()) return false;
    }
    const std::string_view bytes = doc.passwordProtected ? std::string_view(encrypted) : package.bytes;
    if (!housekeeping_.worthSaving(guard, 63, doc.identity, doc.path, package.fingerprint, bytes.size()))
        return false;

    bool saved = false;
    guard.step(64, [&] {
        try {
            held_ = !WriteFileComplete(doc.path, bytes);
        } catch (const Failure& failure) {
            return housekeeping_.writeFailed(doc.path, failure);
        }
        if (held_) return;
        saved = true;
        housekeeping_.saved(doc.identity);
    });
    return saved;
}
