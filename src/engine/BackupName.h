#pragma once
// Backup names: the date and time stamp, written and read back here only,
// names made fit for a file, and the " (n)" that keeps documents of one name
// apart.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The extensions a backup is written with: the package's, as its main
// content type asks, and the classic way's.
inline constexpr std::wstring_view kBackupExtensions[] = {L".docx", L".docm", L".dotx", L".dotm", L".doc"};
// After the extension of a password-protected document's backup, which holds
// its package encrypted for the Windows user ("....docx.protected").
inline constexpr std::wstring_view kProtectedSuffix = L".protected";

// What a backup's file name says: whose backup it is and how it was written.
struct BackupNameParts {
    std::wstring_view stem;       // the document's name as the file name holds it
    int number = 0;               // the " (n)" before the extension, 0 without one
    bool dayStamped = false;      // overwrite mode's name: the date alone
    std::wstring_view extension;  // one of kBackupExtensions
    bool isProtected = false;     // kProtectedSuffix follows the extension
};

// The rule a backup's file name meets, read once per user locale: pruning,
// thinning, the free-space guard and the backups catalogue all ask it, so a
// name is a backup for the one exactly when it is for the others.
class StampRule {
public:
    StampRule();  // the user's month names and designators, as BuildBackupName writes them

    // The parts of a backup name: stem, then " Date ", the date and time
    // stamp (new-file mode) or " " and the date stamp (overwrite mode), an
    // optional " (n)", a backup extension and an optional kProtectedSuffix.
    // None for any other name.
    std::optional<BackupNameParts> parse(std::wstring_view fileName) const;
    // True when fileName is a new-file mode backup name of stem.
    bool isStampedBackupOf(std::wstring_view fileName, std::wstring_view stem) const;

private:
    bool takeDate(std::wstring_view name, size_t& pos) const;
    bool takeTime(std::wstring_view name, size_t& pos) const;

    std::wstring months_[12];
    std::wstring am_, pm_;
};

// Base path (folder, backslash, document name) stamped with the date, and in
// new-file mode the time, plus the backup extension.
std::wstring BuildBackupName(const std::wstring& basePath, bool newFileMode, const std::wstring& docExtension);
// StampRule().isStampedBackupOf, for a single name.
bool IsStampedBackupOf(std::wstring_view fileName, std::wstring_view stem);
// A document name made fit to stand in a file name: characters that a file
// name cannot hold become "_", so do blanks and dots at its end, and a name
// that Windows would take for a device (CON, COM1.txt, ...) gets a "_" after
// its device part.
std::wstring FileNameSafe(const std::wstring& documentName);
// The backup path for a document in a folder: the safe name, shortened when
// the stamped path would pass the path limit (room kept for a " (n)"), and
// stamped by BuildBackupName.
std::wstring BackupPathFor(const std::wstring& folder, const std::wstring& documentName, bool newFileMode,
                           const std::wstring& docExtension);
// The longest path a backup may have: MAX_PATH without its terminator.
inline constexpr size_t kMaxBackupPath = MAX_PATH - 1;

// path with " (n)" before its extension (n > 1); path itself for 1.
std::wstring NumberedPath(const std::wstring& path, const std::wstring& extension, int n);

// The user's general date form: short date, a blank, long time.
std::wstring GeneralDate(const SYSTEMTIME& time);
// The user's short date, and the time of day without seconds.
std::wstring ShortDate(const SYSTEMTIME& time);
std::wstring ShortTime(const SYSTEMTIME& time);
