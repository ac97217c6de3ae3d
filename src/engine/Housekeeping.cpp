#include "engine/Housekeeping.h"

#include "common/ClipboardLock.h"
#include "common/CompleteFile.h"
#include "common/FileTime.h"
#include "common/Guard.h"
#include "common/Handle.h"
#include "common/Main.h"
#include "common/Services.h"
#include "common/Text.h"
#include "engine/BackupName.h"
#include "engine/HistoryFile.h"
#include "engine/Thinning.h"

#include <algorithm>
#include <cwctype>
#include <limits>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull, kFnvPrime = 1099511628211ull;

void Mix(std::uint64_t& hash, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * kFnvPrime;
}

bool StartsWith(std::string_view text, size_t at, std::string_view prefix) { return text.substr(at, prefix.size()) == prefix; }

// The end of the group that opens at text[open] ('{'), past its '}'.
size_t GroupEnd(std::string_view text, size_t open) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;  // an escaped brace or backslash does not count
        } else if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return text.size();
}

std::wstring Megabytes(std::uint64_t bytes) { return std::to_wstring(bytes / (1024 * 1024)) + L" MB"; }

struct StampedFile {
    std::wstring path;
    AgedBackup age;
};

// The regular files in the series' folder (never a folder or a link, nor
// anything in a folder that is itself a link) whose names are stamped
// backups of its stem and that the journal says are its document's as they
// were written, oldest first.
std::vector<StampedFile> StampedBackups(const BackupJournal& journal, const DocumentSeries& series) {
    const std::wstring& folder = series.folder;
    const std::wstring key = series.document.key();
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {};
    const std::wstring prefix = folder.empty() || folder.back() != L'\\' ? folder + L"\\" : folder;
    WIN32_FIND_DATAW found;
    const std::wstring pattern = prefix + L"*";
    UniqueFind find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find) return {};
    const StampRule rule;
    std::vector<StampedFile> backups;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (!rule.isStampedBackupOf(found.cFileName, series.stem)) continue;
        const std::uint64_t size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        std::wstring path = prefix + found.cFileName;
        const std::optional<JournalRecord> record = journal.find(path);
        if (record && record->size == size && record->document.key() == key)
            backups.push_back({std::move(path), {Ticks(found.ftLastWriteTime), size}});
    } while (FindNextFileW(find.get(), &found));
    std::stable_sort(backups.begin(), backups.end(),
                     [](const StampedFile& a, const StampedFile& b) { return a.age.written < b.age.written; });
    return backups;
}

// The stamped names' stem: the file name before " Date ".
std::wstring StemOf(const std::wstring& path) {
    const std::wstring fileName = path.substr(path.find_last_of(L'\\') + 1);
    return fileName.substr(0, fileName.rfind(L" Date "));
}

// The size of a file, 0 when there is none (a never-saved document).
std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The errors of a folder that takes no new file, whatever is tried: a
// right not granted, write-protected or absent media, a folder or share
// that is not there (a removed stick, a share offline).
bool IsWriteRefusal(DWORD error) {
    static constexpr DWORD kRefusals[] = {
        ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT,  ERROR_PATH_NOT_FOUND,        ERROR_FILE_NOT_FOUND,
        ERROR_INVALID_DRIVE, ERROR_NOT_READY,      ERROR_BAD_NETPATH,           ERROR_NETWORK_ACCESS_DENIED,
        ERROR_BAD_NET_NAME,  ERROR_DEV_NOT_EXIST,  ERROR_INVALID_NAME,          ERROR_BAD_PATHNAME,
        ERROR_DIRECTORY,     ERROR_FILE_READ_ONLY, ERROR_CANT_ACCESS_FILE,      ERROR_NETNAME_DELETED};
    return std::find(std::begin(kRefusals), std::end(kRefusals), error) != std::end(kRefusals);
}

std::wstring BackupsRemoved(int removed, const std::wstring& why) {
    return L"Removed " + std::to_wstring(removed) + (removed == 1 ? L" backup " : L" backups ") + why + L" at " +
           GeneralDate(LocalNow());
}

// Calls keep with each run of rtf that StableRtf keeps, in order, so that a
// copy can be fingerprinted where the clipboard holds it.
template <class Keep>
void ForEachStableRun(std::string_view rtf, Keep&& keep) {
    size_t from = 0;  // where the run being kept starts
    auto drop = [&](size_t begin, size_t end) {
        if (begin > from) keep(rtf.substr(from, begin - from));
        from = end;
    };
    for (size_t i = 0; i < rtf.size();) {
        if (StartsWith(rtf, i, "{\\info") || StartsWith(rtf, i, "{\\*\\rsidtbl")) {
            const size_t end = GroupEnd(rtf, i);
            drop(i, end);
            i = end;
            continue;
        }
        if (rtf[i] == '\\' && i + 1 < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[i + 1]))) {
            size_t end = i + 1;
            while (end < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[end]))) ++end;
            const std::string_view word = rtf.substr(i + 1, end - i - 1);
            if (end < rtf.size() && rtf[end] == '-') ++end;
            while (end < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[end]))) ++end;
            // A dropped word leaves its delimiter, so that the word before it
            // never runs into the text after it.
            if (word.find("rsid") != std::string_view::npos) drop(i, end);
            i = end;
            continue;
        }
        // A control symbol (an escaped brace or backslash) is text.
        i += rtf[i] == '\\' && i + 1 < rtf.size() ? 2 : 1;
    }
    if (rtf.size() > from) keep(rtf.substr(from));
}

}  // namespace

std::string StableRtf(std::string_view rtf) {
    std::string out;
    out.reserve(rtf.size());
    ForEachStableRun(rtf, [&](std::string_view run) { out.append(run); });
    return out;
}

// Read where the clipboard keeps it: a copy of a large document's text and
// RTF for every document of a run was the largest memory a run asked for, and
// the heap keeps what it once held.
ContentFingerprint FingerprintClipboard(HWND owner) {
    ClipboardLock lock(owner);
    ContentFingerprint print{kFnvOffset, 0};
    const UINT rtf = RegisterClipboardFormatW(L"Rich Text Format");
    for (UINT format : {static_cast<UINT>(CF_UNICODETEXT), rtf}) {
        const ClipboardView view(lock, format);
        print.bytes += view.bytes().size();
        std::uint64_t size = 0;
        auto mix = [&](std::string_view run) {
            Mix(print.hash, run.data(), run.size());
            size += run.size();
        };
        Mix(print.hash, &format, sizeof format);
        if (format == rtf)
            ForEachStableRun(view.bytes(), mix);
        else
            mix(view.bytes());
        Mix(print.hash, &size, sizeof size);
    }
    return print;
}

int PruneBackups(BackupJournal& journal, const DocumentSeries& series, std::chrono::hours maxAge) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t age = static_cast<std::uint64_t>(maxAge.count()) * 3600ull * 10'000'000ull;
    const std::uint64_t cutoff = Ticks(now) > age ? Ticks(now) - age : 0;
    std::vector<StampedFile> backups = StampedBackups(journal, series);
    if (backups.empty()) return 0;
    backups.pop_back();  // the newest stays, however old
    std::vector<std::wstring> deleted;
    for (const StampedFile& backup : backups)
        if (backup.age.written < cutoff && DeleteHeldFile(backup.path)) deleted.push_back(backup.path);
    journal.recordDeleted(deleted);
    return static_cast<int>(deleted.size());
}

int ThinBackups(BackupJournal& journal, const DocumentSeries& series) {
    const std::vector<StampedFile> backups = StampedBackups(journal, series);
    std::vector<AgedBackup> ages;
    for (const StampedFile& backup : backups) ages.push_back(backup.age);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    TIME_ZONE_INFORMATION zone{};
    if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
    const std::vector<bool> keep = ThinningKeeps(ages, Ticks(now), zone);
    std::vector<std::wstring> deleted;
    for (size_t i = 0; i < backups.size(); ++i)
        if (!keep[i] && DeleteHeldFile(backups[i].path)) deleted.push_back(backups[i].path);
    journal.recordDeleted(deleted);
    return static_cast<int>(deleted.size());
}

int MakeRoom(BackupJournal& journal, const DocumentSeries& series, std::uint64_t needed) {
    std::vector<StampedFile> backups = StampedBackups(journal, series);
    if (backups.empty()) return 0;
    backups.pop_back();  // the newest stays
    std::uint64_t free = Services::Current().FreeSpace(series.folder), freeable = 0;
    for (const StampedFile& backup : backups) freeable += backup.age.size;
    if (free >= needed || free + freeable < needed) return 0;
    std::vector<std::wstring> deleted;
    for (const StampedFile& backup : backups) {
        if (DeleteHeldFile(backup.path)) deleted.push_back(backup.path);
        if (Services::Current().FreeSpace(series.folder) >= needed) break;
    }
    journal.recordDeleted(deleted);
    return static_cast<int>(deleted.size());
}

std::uint64_t RequiredFreeSpace(std::uint64_t copiedBytes) { return copiedBytes * 3 + (32ull << 20); }

// ---- RunHousekeeping ----------------------------------------------------------------

bool RunHousekeeping::worthSaving(Guard& guard, const DocumentIdentity& document, const std::wstring& path) {
    // Only a skip needs the fingerprint: without it the clipboard is not read
    // again (another program may hold it by now), and the document's saved
    // file stands for its size.
    if (!options_.skipUnchanged)
        return worthSaving(guard, 23, document, path, {}, document.neverSaved ? 0 : FileSize(document.name));
    std::optional<ContentFingerprint> print;
    guard.step(23, [&] { print = FingerprintClipboard(options_.owner); });
    if (!print) return true;
    return worthSaving(guard, 23, document, path, *print, print->bytes);
}

bool RunHousekeeping::worthSaving(Guard& guard, int step, const DocumentIdentity& document, const std::wstring& path,
                                  const ContentFingerprint& content, std::uint64_t bytes) {
    folder_ = path.substr(0, path.find_last_of(L'\\') + 1);
    copied_ = content;
    if (unchanged(document, copied_)) return false;
    const std::uint64_t needed = RequiredFreeSpace(bytes);
    std::uint64_t free = Services::Current().FreeSpace(folder_);
    // A user who keeps backups for a time gives up the document's oldest
    // ones sooner than its newest.
    if (free < needed && options_.createNewFile && (options_.keepBackupsDays > 0 || options_.thinBackups)) {
        guard.step(step, [&] {
            HeldFileBudget deletes(heldDeletesWait_);
            const int removed = MakeRoom(journal_, {folder_, StemOf(path), document}, needed);
            if (removed > 0) AppendHistoryLine(options_.historyFile, BackupsRemoved(removed, L"to make room"));
        });
        free = Services::Current().FreeSpace(folder_);
    }
    if (free >= needed) return true;
    // Read-only media say they have no room: what keeps the backup out is
    // the refusal.
    if (const DWORD error = NewFileError(folder_); IsWriteRefusal(error)) {
        guard.step(step, [&] { refused(folder_, error); });
        return false;
    }
    skippedForSpace_ = true;
    // One box per folder until a backup is saved there again (and one per
    // run); the window's status says it meanwhile.
    const bool firstForFolder = memory_.spaceReported.insert(UpperCase(folder_)).second;
    if (firstForFolder && !spaceReported_) {
        spaceReported_ = true;
        guard.step(step, [&] {
            throw Failure::Text(L"There is not enough free space in " + folder_ + L" for a backup: " +
                                Megabytes(free) + L" free, " + Megabytes(needed) + L" needed. No backup is " +
                                L"saved there until there is room.");
        });
    }
    return false;
}

bool RunHousekeeping::unchanged(const DocumentIdentity& document, const ContentFingerprint& content) const {
    // The first backup after start-up is always made: nothing is known yet.
    auto last = memory_.lastBackups.find(document.key());
    return options_.skipUnchanged && last != memory_.lastBackups.end() && last->second == content;
}

void RunHousekeeping::saved(const DocumentIdentity& document) {
    memory_.lastBackups[document.key()] = copied_;
    memory_.spaceReported.erase(UpperCase(folder_));
    memory_.writeRefused.erase(UpperCase(folder_));
}

bool RunHousekeeping::stillRefusesWriting(const std::wstring& folder) {
    // The folder as the backup path holds it.
    const std::wstring held = NormalizeBackslashes(NormalizeBackslashes(folder + L"\\"));
    if (!memory_.writeRefused.contains(UpperCase(held)) || !IsWriteRefusal(NewFileError(held))) return false;
    refusedWriting_ = true;
    return true;
}

void RunHousekeeping::writeFailed(const std::wstring& path, const Failure& failure) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    // Word words it as it likes, and a file may fail for other reasons: a
    // new file of our own tells whether the folder itself refuses.
    const DWORD error = NewFileError(folder);
    if (!IsWriteRefusal(error)) throw failure;
    refused(folder, error);
}

void RunHousekeeping::refused(const std::wstring& folder, unsigned long error) {
    refusedWriting_ = true;
    if (!memory_.writeRefused.insert(UpperCase(folder)).second) return;
    throw Failure::Text(L"Backups cannot be written in " + folder + L": " + SystemMessage(HRESULT_FROM_WIN32(error)) +
                        L" No backup is saved there until one can be written there again.");
}

void RunHousekeeping::wrote(const std::wstring& path, const DocumentIdentity& document) {
    written_.push_back({path.substr(0, path.find_last_of(L'\\') + 1), StemOf(path), document});
}

std::wstring RunHousekeeping::prune() {
    const int days = options_.keepBackupsDays;
    const bool thin = options_.thinBackups;
    if ((days <= 0 && !thin) || !options_.createNewFile) return {};
    HeldFileBudget deletes(heldDeletesWait_);
    int removed = 0;
    for (const DocumentSeries& series : written_)
        removed += thin ? ThinBackups(journal_, series) : PruneBackups(journal_, series, std::chrono::hours(24 * days));
    if (removed == 0) return {};
    return BackupsRemoved(removed, thin ? std::wstring(L"by thinning")
                                        : L"older than " + std::to_wstring(days) + (days == 1 ? L" day" : L" days"));
}
