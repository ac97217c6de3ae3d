#include "backupswindow/BackupCatalogue.h"

#include "common/Failure.h"
#include "common/FileTime.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/BackupJournal.h"
#include "engine/BackupName.h"
#include "engine/WordDocument.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::wstring_view kSavedAs = L" was backup saved as ", kAt = L" at ";
constexpr size_t kChunk = 1 << 20;
// How long found backups wait before they are handed on: a window that
// shows them keeps up, and a part is worth its hand-over.
constexpr ULONGLONG kPartMilliseconds = 150;

// Folder, stem and number, in upper case: one document; or folder and
// identity for one the journal knows.
void DocumentKey(std::wstring& key, std::wstring_view folder, std::wstring_view stem, int number,
                 std::wstring_view identity = {}) {
    key.clear();
    AppendUpperCase(key, folder);
    key += L'|';
    if (!identity.empty()) {
        key += L'|';
        key += identity;
        return;
    }
    AppendUpperCase(key, stem);
    key += L'|';
    key += std::to_wstring(number);
}

// Whether stem is what a backup path makes of the document's name: the name
// made safe, or shortened so that the path fits (a device name shortened
// gains a "_").
bool IsStemOf(std::wstring_view stem, const std::wstring& documentName) {
    const std::wstring safe = FileNameSafe(documentName);
    if (SameText(stem, safe)) return true;
    for (size_t length : {stem.size(), stem.size() - 1})
        if (length > 0 && length < safe.size() && SameText(FileNameSafe(safe.substr(0, length)), stem)) return true;
    return false;
}

// Learns the documents from the history's lines, then lists the backups of
// the folders, a part at a time.
class Reader {
public:
    Reader(const std::wstring& journalFile, const std::atomic<bool>& stop,
           const std::function<void(BackupCatalogue&&)>& deliver)
        : journal_(journalFile), stop_(stop), deliver_(deliver) {
        journal_.refresh();
    }
    void line(std::wstring_view text);
    void scan(const std::vector<std::wstring>& remembered);

private:
    struct Daily {
        std::wstring stem;
        int number;
        BackupFile file;
    };
    void scanFolder(const std::wstring& folder);
    void add(const std::wstring& folder, std::wstring_view stem, int number, BackupFile&& file);
    void handOver();

    BackupJournal journal_;
    const std::atomic<bool>& stop_;
    const std::function<void(BackupCatalogue&&)>& deliver_;
    StampRule rule_;
    std::wstring key_;
    std::unordered_map<std::wstring, std::wstring> names_;        // document key -> Word's name
    std::unordered_map<std::wstring, std::wstring> namesByStem_;  // upper stem|number -> Word's name
    std::unordered_set<std::wstring> knownStems_;                 // upper case
    std::vector<std::pair<size_t, std::wstring>> lineFolders_;    // last line naming it, folder
    std::unordered_map<std::wstring, size_t> lineFolderAt_;       // upper folder -> index in lineFolders_
    size_t lines_ = 0;
    BackupCatalogue part_;
    ULONGLONG handedOver_ = GetTickCount64();
};

// "<name> was backup saved as <path> at <general date>"; the path may hold
// " at " itself, the date does not.  A line counts only when its file's name
// is a backup name of the document it names: a line naming any other file
// (the user's own document) lists nothing.
void Reader::line(std::wstring_view text) {
    ++lines_;
    const size_t saved = text.find(kSavedAs);
    if (saved == std::wstring_view::npos) return;
    const std::wstring name(text.substr(0, saved));
    const std::wstring_view rest = text.substr(saved + kSavedAs.size());
    const size_t at = rest.rfind(kAt);
    if (at == std::wstring_view::npos) return;
    const std::wstring_view path = rest.substr(0, at);
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring_view::npos || slash == 0) return;
    const std::wstring_view folder = path.substr(0, slash);
    const std::optional<BackupNameParts> parts = rule_.parse(path.substr(slash + 1));
    if (!parts) return;
    auto [it, added] = lineFolderAt_.try_emplace(UpperCase(folder), lineFolders_.size());
    if (added) lineFolders_.emplace_back(lines_, folder);
    else lineFolders_[it->second].first = lines_;
    // A name outside the code page comes back lossily ("???.docx"): its
    // folder is still read, for the stamped names there.
    if (!IsStemOf(parts->stem, name)) return;
    DocumentKey(key_, folder, parts->stem, parts->number);
    names_[key_] = name;
    std::wstring stemKey = UpperCase(parts->stem);
    knownStems_.insert(stemKey);
    namesByStem_[stemKey + L'|' + std::to_wstring(parts->number)] = name;
}

void Reader::add(const std::wstring& folder, std::wstring_view stem, int number, BackupFile&& file) {
    CatalogueDocument& document = part_.documentFor(folder, stem, number);
    if (document.backups.empty()) {
        // The history's name for it; a folder the ANSI history spells
        // lossily still has the name of its document.
        DocumentKey(key_, folder, stem, number);
        if (auto named = names_.find(key_); named != names_.end())
            document.name = named->second;
        else if (auto byStem = namesByStem_.find(UpperCase(stem) + L'|' + std::to_wstring(number));
                 byStem != namesByStem_.end())
            document.name = byStem->second;
    }
    document.newest = std::max(document.newest, file.written);
    document.backups.push_back(std::move(file));
}

void Reader::handOver() {
    handedOver_ = GetTickCount64();
    if (part_.documents.empty()) return;
    deliver_(std::move(part_));
    part_ = BackupCatalogue();
}

// A stamped name is a backup wherever it is.  A name with the date alone is
// one only for a document known to have backups (from a line, or stamped
// ones in this folder): "Minutes Dec 7 2026.docx" may be the user's own.
void Reader::scanFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return;
    std::vector<Daily> daily;
    std::unordered_set<std::wstring> stamped;
    do {
        if (stop_.load(std::memory_order_relaxed)) return;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring_view name = found.cFileName;
        const std::optional<BackupNameParts> parts = rule_.parse(name);
        if (!parts) continue;
        BackupFile file{Ticks(found.ftLastWriteTime),
                        (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                        std::wstring(name), parts->isProtected};
        const std::optional<JournalRecord> record =
            journal_.empty() ? std::nullopt : journal_.find(folder + L"\\" + file.name);
        if (record && record->size == file.size) {
            CatalogueDocument& document = part_.documentFor(folder, parts->stem, 0, record->document.key());
            if (document.backups.empty())
                document.name = DocumentLabel(record->document, record->displayName, record->firstBackup);
            document.newest = std::max(document.newest, file.written);
            document.backups.push_back(std::move(file));
        } else if (!parts->dayStamped) {
            key_.clear();
            AppendUpperCase(key_, parts->stem);
            if (!stamped.contains(key_)) stamped.insert(key_);
            add(folder, parts->stem, parts->number, std::move(file));
        } else if (knownStems_.contains(UpperCase(parts->stem))) {
            add(folder, parts->stem, parts->number, std::move(file));
        } else {
            daily.push_back({std::wstring(parts->stem), parts->number, std::move(file)});
        }
        if (GetTickCount64() - handedOver_ >= kPartMilliseconds) handOver();
    } while (FindNextFileW(find.get(), &found));
    for (Daily& d : daily)
        if (stamped.contains(UpperCase(d.stem))) add(folder, d.stem, d.number, std::move(d.file));
    handOver();
}

void Reader::scan(const std::vector<std::wstring>& remembered) {
    std::stable_sort(lineFolders_.begin(), lineFolders_.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::unordered_set<std::wstring> scanned;
    auto scanOnce = [&](const std::wstring& folder) {
        if (!stop_.load() && !folder.empty() && scanned.insert(UpperCase(folder)).second) scanFolder(folder);
    };
    for (const std::wstring& folder : remembered) scanOnce(folder);
    for (const std::wstring& folder : journal_.folders()) scanOnce(folder);
    for (const auto& entry : lineFolders_) scanOnce(entry.second);
}

}  // namespace

CatalogueDocument& BackupCatalogue::documentFor(std::wstring_view folder, std::wstring_view stem, int number,
                                                std::wstring_view identity) {
    DocumentKey(key_, folder, stem, number, identity);
    auto [it, added] = byKey_.try_emplace(key_, documents.size());
    if (added) {
        CatalogueDocument& document = documents.emplace_back();
        document.name = stem;
        document.folder = folder;
        document.stem = stem;
        document.number = number;
        document.identity = identity;
    }
    return documents[it->second];
}

void BackupCatalogue::merge(BackupCatalogue&& part) {
    for (CatalogueDocument& from : part.documents) {
        CatalogueDocument& to = documentFor(from.folder, from.stem, from.number, from.identity);
        if (to.backups.empty()) to.name = std::move(from.name);
        to.newest = std::max(to.newest, from.newest);
        if (to.backups.empty()) {
            to.backups = std::move(from.backups);
        } else {
            to.backups.insert(to.backups.end(), std::make_move_iterator(from.backups.begin()),
                              std::make_move_iterator(from.backups.end()));
        }
    }
}

void ReadBackupCatalogue(const std::wstring& historyFile, const std::wstring& journalFile,
                         const std::vector<std::wstring>& rememberedFolders, const std::atomic<bool>& stop,
                         const std::function<void(BackupCatalogue&&)>& deliver) {
    Reader reader(journalFile, stop, deliver);
    UniqueFile file(CreateFileW(historyFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) throw Failure::FromLastError();
    }
    std::string chunk(file ? kChunk : 0, '\0'), carry;
    std::wstring wide;
    auto convert = [&](const char* begin, const char* end) {
        if (end > begin && end[-1] == '\r') --end;
        const int n = static_cast<int>(end - begin);
        if (n <= 0) return;
        if (wide.size() < static_cast<size_t>(n)) wide.resize(n);
        const int length = MultiByteToWideChar(CP_ACP, 0, begin, n, wide.data(), n);
        reader.line(std::wstring_view(wide.data(), length));
    };
    DWORD read = 0;
    while (file && !stop.load() && ReadFile(file.get(), chunk.data(), kChunk, &read, nullptr) && read > 0) {
        const char *begin = chunk.data(), *end = begin + read;
        for (const char* p = begin; p < end;) {
            const char* eol = static_cast<const char*>(memchr(p, '\n', end - p));
            if (!eol) {
                carry.append(p, end);
                break;
            }
            if (carry.empty()) {
                convert(p, eol);
            } else {
                carry.append(p, eol);
                convert(carry.data(), carry.data() + carry.size());
                carry.clear();
            }
            p = eol + 1;
        }
    }
    if (!carry.empty()) convert(carry.data(), carry.data() + carry.size());
    file.reset();
    reader.scan(rememberedFolders);
}

BackupCatalogue LoadBackupCatalogue(const std::wstring& historyFile,
                                    const std::vector<std::wstring>& rememberedFolders,
                                    const std::wstring& journalFile) {
    BackupCatalogue catalogue;
    const std::atomic<bool> never{false};
    ReadBackupCatalogue(historyFile, journalFile, rememberedFolders, never,
                        [&](BackupCatalogue&& part) { catalogue.merge(std::move(part)); });
    return catalogue;
}

std::optional<size_t> FindCatalogueDocument(const BackupCatalogue& catalogue, const std::wstring& name,
                                            const std::wstring& folder) {
    const std::wstring stem = FileNameSafe(name);
    std::optional<size_t> first, unnumbered;
    for (size_t i = 0; i < catalogue.documents.size(); ++i) {
        const CatalogueDocument& d = catalogue.documents[i];
        if (!SameText(d.name, name) && !SameText(d.stem, stem)) continue;
        if (!folder.empty() && SameText(d.folder, folder)) return i;
        if (!first) first = i;
        if (!unnumbered && d.number == 0) unnumbered = i;
    }
    return unnumbered ? unnumbered : first;
}
