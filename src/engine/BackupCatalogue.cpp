#include "engine/BackupCatalogue.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "engine/BackupName.h"
#include "engine/BackupName.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::wstring_view kSavedAs = L" was backup saved as ", kAt = L" at ";
constexpr size_t kChunk = 1 << 20;

std::uint64_t Ticks(const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Collects documents from history lines, then from the folders they name.
class Builder {
public:
    void line(std::wstring_view text);
    void scan();
    BackupCatalogue finish();

private:
    CatalogueDocument& documentFor(std::wstring_view folder, std::wstring_view stem, int number);
    void addFolder(std::wstring_view folder);
    void addExtension(std::wstring_view extension);
    void scanFolder(size_t folder);

    StampRule rule_;
    BackupCatalogue catalogue_;
    std::unordered_map<std::wstring, size_t> byKey_;
    std::wstring key_;  // reused: a lookup per file allocates nothing
    std::vector<std::wstring> folders_;
    std::unordered_set<std::wstring> folderKeys_;
    std::vector<std::wstring> extensions_{L".docx", L".doc"};
    std::vector<std::pair<size_t, std::wstring>> named_;  // files named by lines only: document, file name
    std::unordered_set<std::wstring> namedKeys_;
};

void AppendUpper(std::wstring& to, std::wstring_view text) {
    const size_t at = to.size();
    to.append(text);
    CharUpperBuffW(to.data() + at, static_cast<DWORD>(text.size()));
}

CatalogueDocument& Builder::documentFor(std::wstring_view folder, std::wstring_view stem, int number) {
    key_.clear();
    AppendUpper(key_, folder);
    key_ += L'|';
    AppendUpper(key_, stem);
    key_ += L'|';
    key_ += std::to_wstring(number);
    auto [it, added] = byKey_.try_emplace(key_, catalogue_.documents.size());
    if (added) {
        CatalogueDocument& document = catalogue_.documents.emplace_back();
        document.name = stem;
        document.folder = folder;
        document.stem = stem;
        document.number = number;
    }
    return catalogue_.documents[it->second];
}

void Builder::addFolder(std::wstring_view folder) {
    std::wstring key;
    AppendUpper(key, folder);
    if (folderKeys_.insert(std::move(key)).second) folders_.emplace_back(folder);
}

void Builder::addExtension(std::wstring_view extension) {
    for (const std::wstring& known : extensions_)
        if (known == extension) return;
    extensions_.emplace_back(extension);
}

// "<name> was backup saved as <path> at <general date>"; the path may hold
// " at " itself, the date does not.
void Builder::line(std::wstring_view text) {
    const size_t saved = text.find(kSavedAs);
    if (saved == std::wstring_view::npos) return;
    const std::wstring_view name = text.substr(0, saved), rest = text.substr(saved + kSavedAs.size());
    const size_t at = rest.rfind(kAt);
    if (at == std::wstring_view::npos) return;
    const std::wstring_view path = rest.substr(0, at);
    const size_t slash = path.rfind(L'\\'), dot = path.rfind(L'.');
    if (slash == std::wstring_view::npos || slash == 0 || dot == std::wstring_view::npos || dot < slash) return;
    const std::wstring_view folder = path.substr(0, slash), file = path.substr(slash + 1), extension = path.substr(dot);
    int number = 0;
    if (auto stem = rule_.stampedStem(file, extension, &number)) {
        documentFor(folder, *stem, number).name = name;
        addFolder(folder);
        addExtension(extension);
        return;
    }
    // Overwrite mode, or a name of another kind: the line's own file only.
    auto stem = rule_.dayStem(file, extension, &number);
    CatalogueDocument& document = documentFor(folder, stem ? *stem : file, stem ? number : 0);
    document.name = name;
    std::wstring key;
    AppendUpper(key, path);
    if (namedKeys_.insert(std::move(key)).second)
        named_.emplace_back(static_cast<size_t>(&document - catalogue_.documents.data()), file);
}

void Builder::scanFolder(size_t index) {
    const std::wstring folder = folders_[index];
    // FIND_FIRST_EX_LARGE_FETCH (Windows 7): fewer trips for a large folder.
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 2));
    if (!find) return;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring_view name = found.cFileName;
        for (const std::wstring& extension : extensions_) {
            if (!name.ends_with(extension)) continue;
            int number = 0;
            if (auto stem = rule_.stampedStem(name, extension, &number)) {
                documentFor(folder, *stem, number)
                    .backups.push_back({Ticks(found.ftLastWriteTime),
                                        (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                                        std::wstring(name)});
                break;
            }
        }
    } while (FindNextFileW(find.get(), &found));
}

void Builder::scan() {
    for (size_t i = 0; i < folders_.size(); ++i) scanFolder(i);
    for (const auto& [index, name] : named_) {
        CatalogueDocument& document = catalogue_.documents[index];
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(document.path({0, 0, name}).c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;  // gone since the line was written
        document.backups.push_back(
            {Ticks(data.ftLastWriteTime), (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
             name});
    }
}

BackupCatalogue Builder::finish() {
    std::erase_if(catalogue_.documents, [](const CatalogueDocument& d) { return d.backups.empty(); });
    for (CatalogueDocument& document : catalogue_.documents)
        for (const BackupFile& backup : document.backups) document.newest = std::max(document.newest, backup.written);
    return std::move(catalogue_);
}

}  // namespace

BackupCatalogue LoadBackupCatalogue(const std::wstring& historyFile) {
    Builder builder;
    UniqueFile file(CreateFileW(historyFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
        throw Failure::FromLastError();
    }
    std::string chunk(kChunk, '\0'), carry;
    std::wstring wide;
    auto convert = [&](const char* begin, const char* end) {
        if (end > begin && end[-1] == '\r') --end;
        const int n = static_cast<int>(end - begin);
        if (n <= 0) return;
        if (wide.size() < static_cast<size_t>(n)) wide.resize(n);
        const int length = MultiByteToWideChar(CP_ACP, 0, begin, n, wide.data(), n);
        builder.line(std::wstring_view(wide.data(), length));
    };
    DWORD read = 0;
    while (ReadFile(file.get(), chunk.data(), kChunk, &read, nullptr) && read > 0) {
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
    builder.scan();
    return builder.finish();
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
