#pragma once
// Backup names: the date and time stamp, written and read back here only,
// names made fit for a file, and the " (n)" that keeps documents of one name
// apart.
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rule a backup's file name meets, read once per user locale: the
// pruning and the backups catalogue both ask it, so a name qualifies for
// the one exactly when it does for the other.
class StampRule {
public:
    StampRule();  // the user's month names and designators, as BuildBackupName writes them

    // True when fileName is stem, " Date ", the date and time stamp, an
    // optional " (n)" and extension.  number gets n, 0 without one.
    bool isStamped(std::wstring_view fileName, std::wstring_view stem, std::wstring_view extension,
                   int* number = nullptr) const;
    // The stem of a new-file mode name with this extension, if it is one.
    std::optional<std::wstring_view> stampedStem(std::wstring_view fileName, std::wstring_view extension,
                                                 int* number = nullptr) const;
    // The stem of an overwrite mode name: stem, " ", the date stamp, an
    // optional " (n)" and extension.
    std::optional<std::wstring_view> dayStem(std::wstring_view fileName, std::wstring_view extension,
                                             int* number = nullptr) const;

private:
    bool takeDate(std::wstring_view name, size_t& pos) const;
    static bool takeEnd(std::wstring_view name, size_t pos, std::wstring_view extension, int* number);

    std::wstring months_[12];
    std::wstring am_, pm_;
};

// After the extension of a password-protected document's backup, which holds
// its package encrypted for the Windows user ("....docx.protected").
inline constexpr std::wstring_view kProtectedSuffix = L".protected";

// Base path (folder, backslash, document name) stamped with the date, and in
// new-file mode the time, plus the backup extension.
std::wstring BuildBackupName(const std::wstring& basePath, bool newFileMode, const std::wstring& docExtension);
// True when fileName is exactly a backup name that the new-file mode gives a
// document whose stamped names begin with stem: stem, " Date ", the date
// and time stamp in the user's locale, an optional " (n)", and extension.
bool IsStampedBackupOf(std::wstring_view fileName, std::wstring_view stem, std::wstring_view extension);
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

// Gives out backup paths so that documents of one name never share a file:
// the first document to claim a path gets it, later ones " (2)", " (3)"...
// before the extension, and a document keeps its number for as long as the
// registry lives (keyed by its full path, or its name when never saved).
class BackupPathRegistry {
public:
    std::wstring claim(const std::wstring& documentKey, const std::wstring& path, const std::wstring& docExtension);

private:
    std::map<std::wstring, std::vector<std::wstring>> claims_;  // upper-case path -> documents in claim order
};

// The user's general date form: short date, a blank, long time.
std::wstring GeneralDate(const SYSTEMTIME& time);
