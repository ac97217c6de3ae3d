#include "engine/BackupJournal.h"

#include "common/CompleteFile.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/BackupName.h"

#include <shlobj.h>

#include <algorithm>
#include <array>
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

// FNV-1a over the UTF-16 units of a text's upper case, as the journal's
// maps keep paths and identities.
class UpperHash {
public:
    void add(wchar_t c) { hash_ = (hash_ ^ static_cast<std::uint16_t>(c)) * 1099511628211ull; }
    void add(std::wstring_view text) {
        if (std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; })) {
            for (wchar_t c : text) add(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c);
            return;
        }
        for (wchar_t c : UpperCase(std::wstring(text))) add(c);
    }
    // A field as the file holds it; false when it is not valid text.
    bool addField(std::string_view field) {
        const std::uint64_t before = hash_;
        std::uint64_t hash = hash_;
        bool plain = true;
        for (char c : field) {
            if (c <= 0 || c == '%') {
                plain = false;
                break;
            }
            hash = (hash ^ static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c)) * 1099511628211ull;
        }
        if (plain) {
            hash_ = hash;
            return true;
        }
        hash_ = before;
        std::wstring text;
        if (!TextOf(field, text)) return false;
        add(text);
        return true;
    }
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 14695981039346656037ull;
};

std::uint64_t HashOf(std::wstring_view text) {
    UpperHash hash;
    hash.add(text);
    return hash.value();
}

// The fields of a line, none when it is not a whole record.
std::optional<std::array<std::string_view, kFields>> FieldsOf(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::array<std::string_view, kFields> fields;
    size_t from = 0;
    for (size_t i = 0; i < kFields; ++i) {
        const size_t tab = line.find('\t', from);
        if ((tab == std::string_view::npos) != (i + 1 == kFields)) return std::nullopt;
        fields[i] = line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from);
        from = tab + 1;
    }
    if (fields[kFields - 1] != kEnd || (fields[0] != "B" && fields[0] != "D")) return std::nullopt;
    return fields;
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
    const auto split = FieldsOf(line);
    if (!split) return std::nullopt;
    const std::array<std::string_view, kFields>& fields = *split;
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

void BackupJournal::take(std::string_view line, size_t at) {
    const auto fields = FieldsOf(line);
    std::uint64_t size = 0, first = 0, neverSaved = 0;
    if (!fields || !NumberOf((*fields)[2], size) || !NumberOf((*fields)[3], first) ||
        !NumberOf((*fields)[5], neverSaved))
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
    if (record && CompareStringOrdinal(record->path.c_str(), -1, path.c_str(), -1, TRUE) != CSTR_EQUAL) return std::nullopt;
    return record;
}

bool BackupJournal::names(const std::wstring& path) const {
    const std::optional<JournalRecord> record = find(path);
    return record && BackupFileSize(path) == record->size;
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
