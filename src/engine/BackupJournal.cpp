#include "engine/BackupJournal.h"

#include "common/CompleteFile.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/BackupName.h"

#include <shlobj.h>

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace {

std::uint64_t NowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The journal's lock: its first byte shared for reading and appending,
// exclusive for compacting; its second byte for one appender at a time, so
// that no line rests on the file system making two appends at once atomic
// (Wine's lost one in a few hundred).  Without a lock file (a folder that
// cannot hold one) the journal is used unlocked, as by one process.
class JournalLock {
public:
    enum Kind { Reading, Compacting, Appending };
    JournalLock(const std::wstring& journal, Kind kind)
        : file_(CreateFileW((journal + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (!file_) return;
        static constexpr DWORD kFlags[] = {0, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                           LOCKFILE_EXCLUSIVE_LOCK};
        at_.Offset = kind == Appending ? 1 : 0;
        held_ = LockFileEx(file_.get(), kFlags[kind], 0, 1, 0, &at_) != FALSE;
    }
    ~JournalLock() {
        if (held_) UnlockFileEx(file_.get(), 0, 1, 0, &at_);
    }
    bool held() const { return held_; }

private:
    UniqueFile file_;
    OVERLAPPED at_{};
    bool held_ = false;
};

UniqueFile OpenForReading(const std::wstring& journal) {
    return UniqueFile(CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Up to n bytes at an offset; how many were read (0 at the end or on failure).
DWORD ReadAt(HANDLE file, std::uint64_t at, char* into, size_t n) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    return ReadFile(file, into, static_cast<DWORD>(n), &read, &where) ? read : 0;
}

// No record is near this long (three texts of at most 32,767 units); a
// longer line is no record, and is passed over.
constexpr size_t kChunk = 1 << 20;

// What compaction may drop: a backup whose folder answers and holds no
// such file, or another one.  A folder that cannot be read at the moment
// (a share offline, a drive taken out, access refused) tells nothing, and
// its records stay; it is asked once, not once a record.
class Presence {
public:
    bool provablyGone(const JournalRecord& record) {
        if (!readable(FolderOf(record.path))) return false;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(record.path.c_str(), GetFileExInfoStandard, &data))
            return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                   ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) != record.size;
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }

private:
    bool readable(const std::wstring& folder) {
        auto [it, added] = folders_.try_emplace(UpperCase(folder), false);
        if (added) {
            WIN32_FIND_DATAW found;
            UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
            const DWORD error = find ? ERROR_SUCCESS : GetLastError();
            const DWORD attributes = GetFileAttributesW(folder.c_str());
            // An empty drive's root lists nothing, and answers all the same.
            it->second = (find || error == ERROR_FILE_NOT_FOUND) && attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        return it->second;
    }
    std::unordered_map<std::wstring, bool> folders_;  // upper case
};

}  // namespace

// The journal's file under its lock, its whole lines mapped: a record is
// read from the file's pages (the system's cache, not the process's own
// memory) without a call per record.
struct BackupJournal::Open {
    Open(const std::wstring& journal, bool exclusive)
        : lock(journal, exclusive ? JournalLock::Compacting : JournalLock::Reading), file(OpenForReading(journal)) {}
    ~Open() { map(0); }
    bool map(std::uint64_t size) {
        if (view) UnmapViewOfFile(std::exchange(view, nullptr));
        mapping.reset();
        mapped = 0;
        if (size == 0 || !file) return size == 0;
        mapping.reset(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        view = mapping ? static_cast<const char*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, size)) : nullptr;
        mapped = view ? size : 0;
        return view != nullptr;
    }
    // The whole line at an offset, without its line feed.
    std::optional<std::string_view> line(std::uint64_t at) const {
        if (at >= mapped) return std::nullopt;
        const std::string_view rest(view + at, static_cast<size_t>(mapped - at));
        const size_t eol = rest.find('\n');
        if (eol == std::string_view::npos) return std::nullopt;
        return rest.substr(0, eol);
    }

    JournalLock lock;
    UniqueFile file;
    UniqueHandle mapping;
    const char* view = nullptr;
    std::uint64_t mapped = 0;
};

BackupJournal::BackupJournal(std::wstring file) : file_(std::move(file)) {}
BackupJournal::~BackupJournal() = default;

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

void BackupJournal::take(std::string_view line, std::uint64_t at, std::vector<JournalIndex::Change>& changes) {
    const auto fields = SplitJournalLine(line);
    std::uint64_t size = 0, first = 0, neverSaved = 0;
    if (!fields || !JournalNumber((*fields)[2], size) || !JournalNumber((*fields)[3], first) ||
        !JournalNumber((*fields)[5], neverSaved))
        return;
    // The folder's hash is the path's up to its last backslash.
    UpperHash path;
    const std::string_view pathField = (*fields)[10];
    const size_t slash = pathField.rfind('\\');
    if (slash == std::string_view::npos || !path.addField(pathField.substr(0, slash))) return;
    if (path.value() != lastFolder_) folders_.try_emplace(lastFolder_ = path.value(), static_cast<std::uint32_t>(at));
    if (!path.addField(pathField.substr(slash))) return;
    const bool deleted = (*fields)[0] == "D";
    if (neverSaved && !deleted) {
        // As DocumentIdentity::key() writes it.
        UpperHash identity;
        if (!identity.addField((*fields)[8])) return;
        for (std::string_view number : {(*fields)[6], (*fields)[7]}) {
            identity.add(L'|');
            for (char c : number) identity.add(static_cast<wchar_t>(c));
        }
        auto [it, added] = firstBackups_.try_emplace(identity.value(), first);
        if (!added) it->second = std::min(it->second, first);
    }
    changes.push_back({path.value(), deleted ? JournalIndex::kDeleted : static_cast<std::uint32_t>(at)});
}

namespace {

std::uint64_t BytesHash(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

}  // namespace

// Whether file is the one read, grown or not: the same file index, and the
// last line read still where it was (a compaction's new file may be given
// the index of the one it replaced).
bool BackupJournal::isFileRead(HANDLE file) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) ||
        ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) != fileIndex_ ||
        ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) < readUpTo_)
        return false;
    if (lastLine_.length == 0) return true;
    std::string last(lastLine_.length, '\0');
    return ReadAt(file, readUpTo_ - last.size(), last.data(), last.size()) == last.size() &&
           BytesHash(last) == lastLine_.hash;
}

// Whole lines only: a torn last one stays unread, and the next record
// starts on a line of its own.
bool BackupJournal::readAppended(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (!isFileRead(file)) {
        index_.clear();
        firstBackups_.clear();
        folders_.clear();
        lastFolder_ = 0;
        lines_ = 0;
        readUpTo_ = 0;
        lastLine_ = {};
        fileIndex_ = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    const std::uint64_t end = std::min(size, JournalIndex::kLargest);
    std::string chunk;
    std::vector<JournalIndex::Change> changes;
    while (readUpTo_ < end) {
        chunk.resize(static_cast<size_t>(std::min<std::uint64_t>(kChunk, end - readUpTo_)));
        const DWORD read = ReadAt(file, readUpTo_, chunk.data(), chunk.size());
        const std::string_view text(chunk.data(), read);
        const size_t last = text.rfind('\n');
        if (last == std::string_view::npos) {
            if (read < kChunk) break;  // torn, or not readable
            ++lines_;                  // a line that is no record
            readUpTo_ += read;
            continue;
        }
        size_t from = 0;
        for (size_t eol; (eol = text.find('\n', from)) < last; from = eol + 1) {
            ++lines_;
            take(text.substr(from, eol - from), readUpTo_ + from, changes);
        }
        ++lines_;
        take(text.substr(from, last - from), readUpTo_ + from, changes);
        lastLine_ = {BytesHash(text.substr(from, last + 1 - from)), static_cast<std::uint32_t>(last + 1 - from)};
        readUpTo_ += last + 1;
        index_.apply(std::move(changes));
        changes.clear();
    }
    return true;
}

void BackupJournal::refresh() {
    release();
    if (file_.empty()) return;
    auto open = std::make_unique<Open>(file_, false);
    if (open->file && readAppended(open->file.get()) && open->map(readUpTo_)) open_ = std::move(open);
}

void BackupJournal::release() { open_.reset(); }

std::optional<JournalRecord> BackupJournal::recordAt(std::uint32_t at) const {
    if (!open_) {
        // Released since: only the file that was read will do.
        auto open = std::make_unique<Open>(file_, false);
        if (!open->file || !isFileRead(open->file.get()) || !open->map(readUpTo_)) return std::nullopt;
        open_ = std::move(open);
    }
    const std::optional<std::string_view> line = open_->line(at);
    return line ? ParseJournalLine(*line) : std::nullopt;
}

std::optional<JournalRecord> BackupJournal::find(const std::wstring& path) const {
    const std::optional<std::uint32_t> at = index_.find(HashOf(path));
    if (!at) return std::nullopt;
    std::optional<JournalRecord> record = recordAt(*at);
    // Another path of the same hash is not this one.
    if (record && (record->deleted || !SameText(record->path, path))) return std::nullopt;
    return record;
}

bool BackupJournal::owns(const DocumentIdentity& document, const std::wstring& path) const {
    const std::optional<JournalRecord> record = find(path);
    return record && record->document.key() == document.key() && BackupFileSize(path) == record->size;
}

std::uint64_t BackupJournal::firstBackupOf(const DocumentIdentity& document) const {
    auto it = firstBackups_.find(HashOf(document.key()));
    return it == firstBackups_.end() ? 0 : it->second;
}

std::vector<std::wstring> BackupJournal::folders() const {
    std::vector<std::wstring> folders;
    for (const auto& [hash, line] : folders_)
        if (auto record = recordAt(line)) folders.push_back(FolderOf(record->path));
    return folders;
}

void BackupJournal::append(const std::vector<std::string>& lines) {
    if (file_.empty()) throw Failure::Text(L"The folder of Orvelle's own data could not be found.");
    SHCreateDirectoryExW(nullptr, FolderOf(file_).c_str(), nullptr);
    {
        JournalLock lock(file_, JournalLock::Reading), one(file_, JournalLock::Appending);
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

// Where the live records whose backups are provably gone start, in the
// file's order; asked before the exclusive lock, since a folder that does
// not answer may take long to say so.
std::vector<std::uint32_t> BackupJournal::goneLines() const {
    Presence presence;
    std::vector<std::uint32_t> gone;
    for (std::uint32_t at : index_.lines()) {
        const std::optional<JournalRecord> record = recordAt(at);
        if (!record || presence.provablyGone(*record)) gone.push_back(at);
    }
    return gone;
}

// The live records' lines in the file's order, but the gone ones; none when
// a line cannot be read again.
std::optional<std::string> BackupJournal::survivors(const Open& open, const std::vector<std::uint32_t>& gone) const {
    std::string text;
    for (std::uint32_t at : index_.lines()) {
        if (std::binary_search(gone.begin(), gone.end(), at)) continue;
        const std::optional<std::string_view> line = open.line(at);
        if (!line) return std::nullopt;
        text += *line;
        text += '\n';
    }
    return text;
}

void BackupJournal::compactIfMostlyGone() {
    auto mostlyGone = [&] { return lines_ >= 64 && index_.size() * 2 < lines_; };
    if (!mostlyGone()) return release();
    refresh();
    if (!open_ || !mostlyGone()) return release();
    const std::vector<std::uint32_t> gone = goneLines();
    release();
    {
        Open open(file_, true);
        if (!open.lock.held()) return;  // another Orvelle reads, writes or compacts it
        // Read again under the lock: what another process appended since
        // stays; a file it compacted meanwhile is read afresh, and left.
        LARGE_INTEGER size{};
        if (!open.file || !GetFileSizeEx(open.file.get(), &size) ||
            static_cast<std::uint64_t>(size.QuadPart) > JournalIndex::kLargest || !isFileRead(open.file.get())) {
            fileIndex_ = 0;  // read afresh
            return;
        }
        if (!readAppended(open.file.get()) || !mostlyGone() || !open.map(readUpTo_)) return;
        const std::optional<std::string> text = survivors(open, gone);
        open.map(0);
        open.file.reset();
        try {
            if (!text || !WriteFileComplete(file_, *text)) return;
        } catch (const Failure&) {
            return;
        }
    }
    fileIndex_ = 0;
    refresh();
    release();
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
