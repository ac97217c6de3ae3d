#pragma once
// What keeps backups from filling the disk: a fingerprint of a document's
// copied content (to skip one that has not changed), the pruning of old
// stamped backups, and the free space a save needs.
#include "engine/BackupName.h"
#include "engine/BackupOptions.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- Unchanged documents -------------------------------------------------------

// A fingerprint of what the clipboard holds now, in the formats a backup is
// pasted from (Unicode text and Rich Text Format, so that a change of
// formatting alone counts), with the parts Word rewrites at every copy left
// out.  The clipboard is opened with owner.
struct ContentFingerprint {
    std::uint64_t hash = 0;
    std::uint64_t bytes = 0;  // the size of what was copied
    bool operator==(const ContentFingerprint&) const = default;
};
ContentFingerprint FingerprintClipboard(HWND owner);
// What each document's last backup made by this process held, by document.
using BackupFingerprints = std::map<std::wstring, ContentFingerprint>;

// Rich Text Format without what changes at every copy of the same content:
// the document information group ({\info ...}), the revision-save id table
// ({\*\rsidtbl ...}) and every \rsid... control word.
std::string StableRtf(std::string_view rtf);

// ---- Keeping backups for a time -------------------------------------------------

// The choices of the "keep backups for" list, in its order; 0 days keeps all.
struct KeepChoice {
    const wchar_t* text;
    int days;
};
inline constexpr KeepChoice kKeepChoices[] = {
    {L"Keep all backups", 0}, {L"1 day", 1}, {L"7 days", 7}, {L"30 days", 30}};

// Deletes, in folder and nowhere else, the regular files (never a folder or
// a link) whose names are stamped backups of stem and whose last write is
// older than maxAge, except the newest of them: a document that has not
// changed for longer than maxAge keeps its last backup.  Answers how many
// were deleted.
int PruneBackups(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension,
                 std::chrono::hours maxAge);

// ---- Free space -------------------------------------------------------------------

// What a save must leave free: the larger of 200 MB and ten times the copy.
std::uint64_t RequiredFreeSpace(std::uint64_t copiedBytes);

// ---- One run's housekeeping -------------------------------------------------------

class Guard;

// The backup run's care for the disk: no second copy of an unchanged
// document, no save into a volume that is nearly full, and old stamped
// backups removed after the run.
class RunHousekeeping {
public:
    RunHousekeeping(const BackupOptions& options, BackupFingerprints& lastBackups)
        : options_(options), lastBackups_(lastBackups) {}

    // Called with the copy on the clipboard, before the save: false when the
    // document is to get no backup this time.
    bool worthSaving(Guard& guard, const std::wstring& documentKey, const std::wstring& path);
    void saved(const std::wstring& documentKey);
    // A stamped path the run gives a document (new-file mode).
    void wrote(const std::wstring& path);
    // In new-file mode: the stamped backups of this run's documents, in the
    // folders this run wrote to, older than the chosen age.  Answers the
    // history line that says how many went, empty when none did.
    std::wstring prune();

private:
    const BackupOptions& options_;
    BackupFingerprints& lastBackups_;
    ContentFingerprint copied_;
    bool spaceReported_ = false;
    std::vector<std::pair<std::wstring, std::wstring>> written_;  // folder, stem
};
