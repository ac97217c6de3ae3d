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

// Fields in their order; the last one marks a line written whole.
constexpr size_t kFields = 12;
constexpr std::string_view kEnd = "$";

// UTF-8, with "%" and control characters as %XX so that tabs and line feeds
// only ever separate.
void AppendField(std::string& line, const std::wstring& text) {
    const std::string utf8 = ToUtf8(text);
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : utf8) {
        if (c < 0x20 || c == '%') {
            line += '%';
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
    line += '\t';
}

void AppendNumber(std::string& line, std::uint64_t n) {
    line += std::to_string(n);
    line += '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool TextOf(std::string_view field, std::wstring& text) {
    std::string unescaped;
    if (field.find('%') != std::string_view::npos) {
        for (size_t i = 0; i < field.size(); ++i) {
            if (field[i] != '%') {
                unescaped += field[i];
                continue;
            }
            if (i + 2 >= field.size()) return false;
            const int high = HexDigit(field[i + 1]), low = HexDigit(field[i + 2]);
            if (high < 0 || low < 0) return false;
            unescaped += static_cast<char>(high * 16 + low);
            i += 2;
        }
        field = unescaped;
    }
    // Paths and names are mostly ASCII: widened here, which is many times
    // faster than a call per field (a 200,000-line journal is read at once).
    if (std::all_of(field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        text.assign(field.begin(), field.end());
        return true;
    }
    text.resize(field.size());
    const int n = field.empty() ? 0
                                : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, field.data(),
                                                      static_cast<int>(field.size()), text.data(),
                                                      static_cast<int>(text.size()));
    if (n == 0 && !field.empty()) return false;
    text.resize(n);
    return true;
}

bool NumberOf(std::string_view field, std::uint64_t& n) {
    if (field.empty() || field.size() > 20) return false;
    n = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

std::uint64_t NowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// A path as the map holds it: upper case, ASCII without a call.
std::wstring PathKey(const std::wstring& path) {
    std::wstring key(path);
    bool ascii = true;
    for (wchar_t& c : key) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
        ascii &= c < 0x80;
    }
    return ascii ? key : UpperCase(std::move(key));
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

std::wstring DocumentIdentity::key() const {
    std::wstring key = UpperCase(name);
    if (neverSaved) key += L"|" + std::to_wstring(process.id) + L"|" + std::to_wstring(process.started);
    return key;
}

std::string FormatJournalLine(const JournalRecord& r) {
    std::string line(r.deleted ? "D\t" : "B\t");
    for (std::uint64_t n : {r.written, r.size, r.firstBackup}) AppendNumber(line, n);
    line += static_cast<char>(r.unsaved);
    line += '\t';
    for (std::uint64_t n : {std::uint64_t{r.document.neverSaved}, std::uint64_t{r.document.process.id},
                            r.document.process.started})
        AppendNumber(line, n);
    for (const std::wstring* text : {&r.document.name, &r.displayName, &r.path}) AppendField(line, *text);
    line += kEnd;
    line += '\n';
    return line;
}

std::optional<JournalRecord> ParseJournalLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view fields[kFields];
    size_t count = 0;
    for (size_t from = 0; count < kFields; ++count) {
        const size_t tab = line.find('\t', from);
        fields[count] = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        if (tab == std::string_view::npos) {
            ++count;
            break;
        }
        from = tab + 1;
        if (count + 1 == kFields) return std::nullopt;  // more fields than a record has
    }
    if (count != kFields || fields[kFields - 1] != kEnd || (fields[0] != "B" && fields[0] != "D")) return std::nullopt;
    JournalRecord r;
    r.deleted = fields[0] == "D";
    std::uint64_t neverSaved = 0, id = 0;
    if (!NumberOf(fields[1], r.written) || !NumberOf(fields[2], r.size) || !NumberOf(fields[3], r.firstBackup) ||
        fields[4].size() != 1 || !NumberOf(fields[5], neverSaved) || neverSaved > 1 || !NumberOf(fields[6], id) ||
        id > 0xFFFFFFFFu || !NumberOf(fields[7], r.document.process.started) ||
        !TextOf(fields[8], r.document.name) || !TextOf(fields[9], r.displayName) || !TextOf(fields[10], r.path) ||
        r.path.empty())
        return std::nullopt;
    const char unsaved = fields[4][0];
    if (unsaved != '?' && unsaved != '0' && unsaved != '1') return std::nullopt;
    r.unsaved = static_cast<UnsavedChanges>(unsaved);
    r.document.neverSaved = neverSaved == 1;
    r.document.process.id = static_cast<DWORD>(id);
    return r;
}

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

void BackupJournal::take(JournalRecord&& record) {
    if (!record.document.neverSaved || record.deleted) {
    } else if (auto [it, added] = firstBackups_.try_emplace(record.document.key(), record.firstBackup); !added) {
        it->second = std::min(it->second, record.firstBackup);
    }
    auto [it, added] = byPath_.try_emplace(PathKey(record.path));
    const bool wasLive = !added && !it->second.deleted;
    if (wasLive && record.deleted) --live_;
    if (!wasLive && !record.deleted) ++live_;
    it->second = std::move(record);
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
    if (index != fileIndex_ || size < offset_) {
        byPath_.clear();
        firstBackups_.clear();
        lines_ = live_ = 0;
        offset_ = 0;
        fileIndex_ = index;
    }
    if (size == offset_) return;
    if (offset_ == 0) byPath_.reserve(static_cast<size_t>(size / 160));
    std::string bytes(size - offset_, '\0');
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset_);
    DWORD read = 0;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return;
    bytes.resize(read);
    const std::string_view text(bytes);
    size_t from = 0;
    // Whole lines only: a torn last one stays unread, and the next record
    // starts on a line of its own.
    for (size_t eol; (eol = text.find('\n', from)) != std::string_view::npos; from = eol + 1) {
        ++lines_;
        if (std::optional<JournalRecord> record = ParseJournalLine(text.substr(from, eol - from)))
            take(std::move(*record));
    }
    offset_ += from;
}

const JournalRecord* BackupJournal::find(const std::wstring& path) const {
    auto it = byPath_.find(PathKey(path));
    return it == byPath_.end() || it->second.deleted ? nullptr : &it->second;
}

bool BackupJournal::names(const std::wstring& path) const {
    const JournalRecord* record = find(path);
    return record && BackupFileSize(path) == record->size;
}

bool BackupJournal::owns(const DocumentIdentity& document, const std::wstring& path) const {
    const JournalRecord* record = find(path);
    return record && record->document.key() == document.key() && BackupFileSize(path) == record->size;
}

std::uint64_t BackupJournal::firstBackupOf(const DocumentIdentity& document) const {
    auto it = firstBackups_.find(document.key());
    return it == firstBackups_.end() ? 0 : it->second;
}

std::vector<std::wstring> BackupJournal::folders() const {
    std::unordered_set<std::wstring> seen;
    std::vector<std::wstring> folders;
    for (const auto& [key, record] : byPath_)
        if (!record.deleted && seen.insert(FolderOf(key)).second) folders.push_back(FolderOf(record.path));
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
    std::vector<const JournalRecord*> kept;
    for (const auto& [key, record] : byPath_)
        if (!record.deleted && BackupFileSize(record.path) == record.size) kept.push_back(&record);
    std::sort(kept.begin(), kept.end(), [](auto* a, auto* b) { return a->written < b->written; });
    std::string text;
    for (const JournalRecord* record : kept) text += FormatJournalLine(*record);
    // Read again under the exclusive lock: what another process appended
    // since the last refresh is in the file, and must stay.
    const std::uint64_t readUpTo = offset_;
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
    offset_ = 0;
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
