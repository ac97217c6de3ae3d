#include "backupswindow/BackupActions.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/CompleteFile.h"
#include "common/Main.h"
#include "common/Text.h"
#include "common/UserProtection.h"
#include "engine/BackupName.h"
#include "engine/RecoveredCopies.h"
#include "engine/WordDocument.h"
#include "engine/WordProbes.h"

#include <shellapi.h>

namespace {

std::string ReadWholeFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) throw Failure::FromLastError();
    if (size.QuadPart > 0x7FFFFFFF) throw Failure::FromWin32(ERROR_FILE_TOO_LARGE);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        throw Failure::FromLastError();
    bytes.resize(read);
    return bytes;
}

// The package inside a protected backup, for this Windows user only.
std::string Decrypted(const std::wstring& backup) {
    const std::string sealed = ReadWholeFile(backup);
    try {
        return UnprotectForUser(sealed);
    } catch (const Failure&) {
        throw Failure::Text(L"This backup is password-protected for another Windows user, or it is damaged, so it "
                            L"cannot be opened:\r\n\r\n" + backup);
    }
}

}  // namespace

std::wstring CopyForRecovery(const std::wstring& backup, const std::wstring& documentName, const SYSTEMTIME& now) {
    const size_t slash = backup.find_last_of(L'\\'), dot = backup.find_last_of(L'.');
    const std::optional<BackupNameParts> parts = StampRule().parse(std::wstring_view(backup).substr(slash + 1));
    // A protected backup's copy is the package itself: it drops ".protected".
    const std::wstring extension = parts                                  ? std::wstring(parts->extension)
                                   : dot != std::wstring::npos && dot > slash ? backup.substr(dot)
                                                                          : L"";
    std::optional<std::string> plain;
    if (parts && parts->isProtected) plain = Decrypted(backup);
    // A plain copy of protected content never goes beside the backup.
    const std::wstring folder = plain ? RecoveredCopiesFolder() + L"\\" : backup.substr(0, slash + 1);
    std::wstring stem = FileNameSafe(documentName);
    if (const size_t own = stem.find_last_of(L'.'); own != std::wstring::npos && own > 0) stem.resize(own);
    for (int n = 1; n < 1000; ++n) {
        const std::wstring copy = folder + RecoveredCopyName(stem, now, n, extension);
        // Fails if the name exists, checked and created in one step.
        if (!plain && CopyFileW(backup.c_str(), copy.c_str(), TRUE)) return copy;
        // The name is taken first, then filled whole.
        if (plain) {
            UniqueFile taken(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            if (taken) {
                taken.reset();
                try {
                    WriteFileComplete(copy, *plain);
                    // Word then asks where to save a change, never into this folder's copy.
                    if (!SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_READONLY)) throw Failure::FromLastError();
                } catch (const Failure&) {
                    DeleteFileW(copy.c_str());
                    throw;
                }
                return copy;
            }
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) throw Failure::FromWin32(error);
    }
    throw Failure::Text(L"There is no free name for a copy of " + backup);
}

Dispatch RunningWord() {
    try {
        Dispatch word = Dispatch::GetActive(kWordProgId);
        if (word.getDefault().toText() == L"Microsoft Word") return word;
    } catch (const Failure&) {
    }
    return {};
}

std::optional<WordDocumentId> ActiveWordDocument(const Dispatch& word) {
    if (!word) return std::nullopt;
    try {
        // Word fails ActiveDocument when no document is open.
        Dispatch document = word.get(L"ActiveDocument").toDispatch();
        return WordDocumentId{document.get(L"Name").toText(), document.get(L"Path").toText(),
                              document.get(L"FullName").toText()};
    } catch (const Failure&) {
        return std::nullopt;
    }
}

namespace {

// By name, for backups the history alone names.
Dispatch ByName(const Dispatch& word, const std::wstring& name, const std::wstring& folder) {
    Dispatch documents = word.get(L"Documents").toDispatch(), found;
    const long count = documents.get(L"Count").toLong();
    for (long i = 1; i <= count; ++i) {
        Dispatch document = documents.call(L"Item", {i}).toDispatch();
        if (!SameText(document.get(L"Name").toText(), name)) continue;
        if (SameText(document.get(L"Path").toText(), folder)) return document;
        if (!found) found = document;
    }
    return found;
}

}  // namespace

WordAndDocument OpenDocumentOf(const ListedDocument& listed) {
    if (listed.identity.name.empty()) {
        Dispatch word = RunningWord();
        return {word, word ? ByName(word, listed.name, listed.folder) : Dispatch()};
    }
    if (std::optional<OpenDocument> found = FindOpenDocument(listed.identity)) return {found->word, found->document};
    return {};
}

Dispatch OpenInWord(const Dispatch& word, const std::wstring& file) {
    CallScope whole(CallAnswerBounds().document);
    return word.get(L"Documents").toDispatch().call(L"Open", {}, {{L"FileName", file}}).toDispatch();
}

void OpenWithAssociatedProgram(const std::wstring& file) {
    SHELLEXECUTEINFOW info{sizeof info};
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) throw Failure::FromLastError();
}

Dispatch CompareInWord(const Dispatch& word, const Dispatch& original, const Dispatch& revised) {
    CallScope whole(CallAnswerBounds().document);
    Variant result =
        word.call(L"CompareDocuments", {}, {{L"OriginalDocument", original}, {L"RevisedDocument", revised}});
    // Word shows the comparison it made.
    return result.isObject() ? result.toDispatch() : word.get(L"ActiveDocument").toDispatch();
}

void RememberProtectedComparison(const Dispatch& comparison, Protection protection) {
    try {
        RememberComparison(comparison.get(L"Name").toText(), protection);
    } catch (const Failure&) {
        try {
            comparison.call(L"Close", {false});
        } catch (const Failure&) {
        }
        throw;
    }
}

void ShowInFolder(const std::wstring& file) {
    const std::wstring windows = WindowsFolder();
    if (windows.empty()) throw Failure::Text(L"The Windows folder could not be found.");
    const std::wstring explorer = windows + L"\\explorer.exe";
    std::wstring commandLine = L"\"" + explorer + L"\" /select,\"" + file + L"\"";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(explorer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw Failure::FromLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool RecycleBinTakes(const std::wstring& file) {
    wchar_t root[MAX_PATH * 2];
    if (!GetVolumePathNameW(file.c_str(), root, static_cast<DWORD>(std::size(root)))) return false;
    SHQUERYRBINFO bin{sizeof bin};
    return GetDriveTypeW(root) == DRIVE_FIXED && SUCCEEDED(SHQueryRecycleBinW(root, &bin));
}

bool DeleteBackupFile(HWND owner, const std::wstring& file, bool permanentAgreed) {
    const std::wstring from = file + L'\0';  // the list ends in two nulls
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = owner;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    // The nuke warning is the system's own question before a permanent delete.
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI |
                       (permanentAgreed ? 0 : FOF_WANTNUKEWARNING);
    if (const int error = SHFileOperationW(&operation); error != 0)
        throw Failure::Text(L"The backup could not be deleted (error " + std::to_wstring(error) + L"): " + file);
    return !operation.fAnyOperationsAborted;
}

std::string BackupPackageBytes(const std::wstring& backup) {
    const bool isProtected =
        backup.size() > kProtectedSuffix.size() &&
        SameText(std::wstring_view(backup).substr(backup.size() - kProtectedSuffix.size()), kProtectedSuffix);
    return isProtected ? Decrypted(backup) : ReadWholeFile(backup);
}
