#include "engine/BackupJournal.h"

#include "common/CompleteFile.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/BackupName.h"

#include <shlobj.h>

#include <algorithm>
#include <unordered_set>

namespace {

std::uint64_t NowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The journal's lock: shared for reading and appending, exclusive for
// compacting.  Without a lock file (a folder that cannot hold one) the
// journal is used unlocked, as it would be by one process.
class JournalLock {
public:
    JournalLock(const std::wstring& journal, bool exclusive)
        : file_(CreateFileW((journal + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (!file_) return;
        OVERLAPPED at{};
        held_ = LockFileEx(file_.get(), exclusive ? LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY : 0, 0, 1,
                           0, &at) != FALSE;
    }
    ~JournalLock() {
        OVERLAPPED at{};
        if (held_) UnlockFileEx(file_.get(), 0, 1, 0, &at);
    }
    bool held() const { return held_; }

private:
    UniqueFile file_;
    bool held_ = false;
};

}  // namespace
std::wstring DefaultJournalFile() {
    Unique<wchar_t*, &CoTaskMemFree> folder;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, folder.put()))) return {};
    return std::wstring(folder.get()) + L"\\Kelvane\\Orvelle\\Backups.journal";
}

std::optional<std::uint64_t> BackupFileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void BackupJournal::take(std::string_view line, size_t at) {
    const auto fields = SplitJournalLine(line);
    std::uint64_t size = 0, first = 0, neverSaved = 0;
    if (!fields || !JournalNumber((*fields)[2], size) || !JournalNumber((*fields)[3], first) ||
        !JournalNumber((*fields)[5], neverSaved))
        return;
    UpperHash identity, path;
    if (!identity.addField((*fields)[8])) return;
    if (neverSaved) {
        // As DocumentIdentity::key() writes it.
        for (std::string_view number : {(*fields)[6], (*fields)[7]}) {
            identity.add(L'|');
            for (char c : number) identity.add(static_cast<wchar_t>(c));
        }
    }
    // The folder's hash is the path's up to its last backslash.
    const std::string_view pathField = (*fields)[10];
    const size_t slash = pathField.rfind('\\');
    if (slash == std::string_view::npos || !path.addField(pathField.substr(0, slash))) return;
    if (path.value() != lastFolder_) folders_.try_emplace(lastFolder_ = path.value(), at);
    if (!path.addField(pathField.substr(slash))) return;

    const bool deleted = (*fields)[0] == "D";
    if (neverSaved && !deleted) {
        auto [it, added] = firstBackups_.try_emplace(identity.value(), first);
        if (!added) it->second = std::min(it->second, first);
    }
    auto [it, added] = byPath_.try_emplace(path.value());
    const bool wasLive = !added && !it->second.deleted;
    if (wasLive && deleted) --live_;
    if (!wasLive && !deleted) ++live_;
    it->second = {identity.value(), size, at, deleted};
}

void BackupJournal::refresh() {
    if (file_.empty()) return;
    JournalLock lock(file_, false);
    UniqueFile file(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return;
    const std::uint64_t index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (index != fileIndex_ || size < text_.size()) {
        text_.clear();
        byPath_.clear();
        firstBackups_.clear();
        folders_.clear();
        lastFolder_ = 0;
        lines_ = live_ = 0;
        fileIndex_ = index;
    }
    if (size == text_.size()) return;
    if (text_.empty()) byPath_.reserve(static_cast<size_t>(size / 160));
    const size_t start = text_.size();
    text_.resize(static_cast<size_t>(size));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(start);
    DWORD read = 0;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), text_.data() + start, static_cast<DWORD>(size - start), &read, nullptr))
        read = 0;
    // Whole lines only: a torn last one stays unread, and the next record
    // starts on a line of its own.
    const size_t end = text_.rfind('\n', start + read == 0 ? 0 : start + read - 1);
    text_.resize(end == std::string::npos || end < start ? start : end + 1);
    const std::string_view text(text_);
    for (size_t from = start, eol; from < text.size(); from = eol + 1) {
        eol = text.find('\n', from);
        ++lines_;
        take(text.substr(from, eol - from), from);
    }
}

const BackupJournal::Entry* BackupJournal::entry(const std::wstring& path) const {
    auto it = byPath_.find(HashOf(path));
    return it == byPath_.end() || it->second.deleted ? nullptr : &it->second;
}

std::optional<JournalRecord> BackupJournal::find(const std::wstring& path) const {
    const Entry* e = entry(path);
    if (!e) return std::nullopt;
    const size_t eol = text_.find('\n', e->line);
    std::optional<JournalRecord> record = ParseJournalLine(std::string_view(text_).substr(e->line, eol - e->line));
    // Another path of the same hash is not this one.
    if (record && !SameText(record->path, path)) return std::nullopt;
    return record;
}

bool BackupJournal::owns(const DocumentIdentity& document, const std::wstring& path) const {
    const Entry* e = entry(path);
    if (!e || e->identity != HashOf(document.key())) return false;
    const std::optional<JournalRecord> record = find(path);
    return record && record->document.key() == document.key() && BackupFileSize(path) == record->size;
}

std::uint64_t BackupJournal::firstBackupOf(const DocumentIdentity& document) const {
    auto it = firstBackups_.find(HashOf(document.key()));
    return it == firstBackups_.end() ? 0 : it->second;
}

std::vector<std::wstring> BackupJournal::folders() const {
    std::vector<std::wstring> folders;
    for (const auto& [hash, line] : folders_) {
        const size_t eol = text_.find('\n', line);
        if (auto record = ParseJournalLine(std::string_view(text_).substr(line, eol - line)))
            folders.push_back(FolderOf(record->path));
    }
    return folders;
}

void BackupJournal::append(const std::vector<std::string>& lines) {
    if (file_.empty()) throw Failure::Text(L"The folder of Orvelle's own data could not be found.");
    SHCreateDirectoryExW(nullptr, FolderOf(file_).c_str(), nullptr);
    {
        JournalLock lock(file_, false);
        UniqueFile file(CreateFileW(file_.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw Failure::FromLastError();
        // After a torn line the first record starts a line of its own.
        LARGE_INTEGER size{}, last{.QuadPart = -1};
        char end = '\n';
        DWORD read = 0;
        const bool torn = GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
                          SetFilePointerEx(file.get(), last, nullptr, FILE_END) &&
                          ReadFile(file.get(), &end, 1, &read, nullptr) && read == 1 && end != '\n';
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string whole = (i == 0 && torn ? "\n" : "") + lines[i];
            DWORD written = 0;
            if (!WriteFile(file.get(), whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) ||
                written != whole.size())
                throw Failure::FromLastError();
        }
    }
    refresh();
}

void BackupJournal::record(JournalRecord record) {
    if (record.document.neverSaved) {
        const std::uint64_t first = firstBackupOf(record.document);
        record.firstBackup = first ? first : record.written;
    }
    append({FormatJournalLine(record)});
}

void BackupJournal::recordDeleted(const std::vector<std::wstring>& paths) {
    if (paths.empty()) return;
    std::vector<std::string> lines;
    JournalRecord gone;
    gone.deleted = true;
    gone.written = NowTicks();
    for (const std::wstring& path : paths) {
        gone.path = path;
        lines.push_back(FormatJournalLine(gone));
    }
    try {
        append(lines);
    } catch (const Failure&) {
        // Only the compaction's count misses them.
    }
}

void BackupJournal::compactIfMostlyGone() {
    if (lines_ < 64 || live_ * 2 >= lines_) return;
    JournalLock lock(file_, true);
    if (!lock.held()) return;  // another Orvelle reads, writes or compacts it
    std::vector<std::pair<std::uint64_t, std::string_view>> kept;  // written, line
    for (const auto& [hash, e] : byPath_) {
        if (e.deleted) continue;
        const size_t eol = text_.find('\n', e.line);
        const std::string_view line = std::string_view(text_).substr(e.line, eol + 1 - e.line);
        if (auto record = ParseJournalLine(line.substr(0, line.size() - 1));
            record && BackupFileSize(record->path) == record->size)
            kept.emplace_back(record->written, line);
    }
    std::sort(kept.begin(), kept.end());
    std::string text;
    for (const auto& [written, line] : kept) text += line;
    // Read again under the exclusive lock: what another process appended
    // since the last refresh is in the file, and must stay.
    const std::uint64_t readUpTo = text_.size();
    UniqueFile file(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return;
    if (static_cast<std::uint64_t>(size.QuadPart) > readUpTo) {
        std::string tail(static_cast<size_t>(size.QuadPart - readUpTo), '\0');
        LARGE_INTEGER at{.QuadPart = static_cast<LONGLONG>(readUpTo)};
        DWORD read = 0;
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
            !ReadFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &read, nullptr))
            return;
        tail.resize(read);
        text += tail.substr(0, tail.rfind('\n') + 1);
    }
    file.reset();
    try {
        if (!WriteFileComplete(file_, text)) return;
    } catch (const Failure&) {
        return;
    }
    fileIndex_ = 0;  // read afresh
}

std::wstring ClaimBackupPath(const BackupJournal& journal, const DocumentIdentity& document, const std::wstring& path,
                             const std::wstring& extension, const std::unordered_set<std::wstring>& taken) {
    std::wstring free;
    // Past the first name that was never used, no name can be the
    // document's: its own are found before that.
    for (int n = 1; n < 10000; ++n) {
        const std::wstring candidate = NumberedPath(path, extension, n);
        if (taken.contains(UpperCase(candidate))) continue;
        if (journal.owns(document, candidate)) return candidate;
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        if (free.empty()) free = candidate;
        if (!journal.find(candidate)) break;
    }
    if (free.empty()) throw Failure::Text(L"No free name was left for the backup " + path + L".");
    return free;
}
