#include "engine/RecoveredCopies.h"

#include "common/CompleteFile.h"
#include "common/FileTime.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"

#include <algorithm>
#include <cwctype>

namespace {

constexpr wchar_t kFolderName[] = L"Orvelle Recovered Copies";
constexpr wchar_t kComparisonsFile[] = L"Comparisons.txt";
constexpr std::wstring_view kRecovered = L" (recovered ";
// Long enough for Word to start and open what it was handed.
constexpr ULONGLONG kGraceIn100ns = 5ull * 60 * 10'000'000;

bool Holds(const std::vector<std::wstring>& names, std::wstring_view name) {
    return std::ranges::any_of(names, [&](const std::wstring& n) { return SameText(n, name); });
}

std::wstring TwoDigits(int n) { return (n < 10 ? L"0" : L"") + std::to_wstring(n); }

// The folder's path, not made: empty when the system names no temporary folder.
std::wstring FolderPath() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
    if (n == 0 || n > MAX_PATH) return {};
    return std::wstring(temp, n) + kFolderName;
}

// Whether text from at is digits and separators laid out as pattern ('d' a digit).
bool Matches(std::wstring_view text, size_t at, std::wstring_view pattern) {
    if (text.size() < at + pattern.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = text[at + i];
        if (pattern[i] == L'd' ? !std::iswdigit(c) : c != pattern[i]) return false;
    }
    return true;
}

using Comparison = RecoveredContent::Comparison;
// A comparison with a rights-managed document: "<name>\trights-managed".
constexpr std::wstring_view kRightsManagedField = L"\trights-managed";

const Comparison* Find(const std::vector<Comparison>& comparisons, std::wstring_view name) {
    for (const Comparison& c : comparisons)
        if (SameText(c.name, name)) return &c;
    return nullptr;
}

std::vector<Comparison> ReadComparisons(const std::wstring& file) {
    std::vector<Comparison> comparisons;
    UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!handle || !GetFileSizeEx(handle.get(), &size) || size.QuadPart > (1 << 20)) return comparisons;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return comparisons;
    bytes.resize(read);
    const std::wstring text = FromUtf8(bytes);
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(L"\r\n", at), text.size());
        std::wstring_view line = std::wstring_view(text).substr(at, end - at);
        const bool rightsManaged = line.ends_with(kRightsManagedField);
        if (rightsManaged) line.remove_suffix(kRightsManagedField.size());
        if (!line.empty()) comparisons.push_back({std::wstring(line), rightsManaged});
        at = end + 2;
    }
    return comparisons;
}

void WriteComparisons(const std::wstring& file, const std::vector<Comparison>& comparisons) {
    std::wstring text;
    for (const Comparison& c : comparisons)
        text += c.name + (c.rightsManaged ? std::wstring(kRightsManagedField) : L"") + L"\r\n";
    WriteFileComplete(file, ToUtf8(text));
}

// The copies seen held by another program: they go the moment they are let go.
std::vector<std::wstring> g_seenHeld;

}  // namespace

std::wstring RecoveredCopiesFolder() {
    const std::wstring folder = FolderPath();
    if (folder.empty()) throw Failure::Text(L"Windows names no temporary folder for this user.");
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw Failure::FromLastError();
    return folder;
}

std::wstring RecoveredCopyName(std::wstring_view stem, const SYSTEMTIME& now, int number,
                               std::wstring_view extension) {
    std::wstring name(stem);
    name += kRecovered;
    name += std::to_wstring(now.wYear) + L"-" + TwoDigits(now.wMonth) + L"-" + TwoDigits(now.wDay) + L" " +
            TwoDigits(now.wHour) + L"-" + TwoDigits(now.wMinute) + L")";
    if (number > 1) name += L" (" + std::to_wstring(number) + L")";
    return name += extension;
}

bool IsRecoveredCopyName(std::wstring_view name) {
    const size_t at = name.rfind(kRecovered);
    if (at == std::wstring_view::npos || !Matches(name, at + kRecovered.size(), L"dddd-dd-dd dd-dd)")) return false;
    size_t rest = at + kRecovered.size() + 17;
    if (name.substr(rest).starts_with(L" (")) {
        const size_t close = name.find(L')', rest + 2);
        if (close == std::wstring_view::npos || close == rest + 2) return false;
        for (size_t i = rest + 2; i < close; ++i)
            if (!std::iswdigit(name[i])) return false;
        rest = close + 1;
    }
    return rest == name.size() || (name[rest] == L'.' && name.find_first_of(L" ()", rest) == std::wstring_view::npos);
}

int RemoveReleasedCopies() {
    const std::wstring folder = FolderPath();
    if (folder.empty()) return 0;
    RemoveUnfinishedFiles(folder);
    std::vector<std::wstring> held;
    int removed = 0;
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found)) {
        const std::wstring name = found.cFileName;
        const DWORD notFiles = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!IsRecoveredCopyName(name) || (found.dwFileAttributes & notFiles)) continue;
        const std::wstring path = folder + L"\\" + name;
        const bool young = Ticks(now) < Ticks(found.ftLastWriteTime) + kGraceIn100ns;
        // Let go of since the last look, or handed over long enough ago.
        if ((!young || Holds(g_seenHeld, name)) && DeleteIfNoneHolds(path, found.dwFileAttributes))
            ++removed;
        else if (IsHeldByAnotherProgram(path))
            held.push_back(name);
    }
    g_seenHeld = std::move(held);
    return removed;
}

void RememberComparison(const std::wstring& name, Protection protection) {
    const std::wstring file = RecoveredCopiesFolder() + L"\\" + kComparisonsFile;
    std::vector<Comparison> comparisons = ReadComparisons(file);
    const bool rightsManaged = protection == Protection::RightsManaged;
    auto known = std::ranges::find_if(comparisons, [&](const Comparison& c) { return SameText(c.name, name); });
    if (known == comparisons.end())
        comparisons.push_back({name, rightsManaged});
    else
        known->rightsManaged = known->rightsManaged || rightsManaged;
    WriteComparisons(file, comparisons);
}

RecoveredContent::RecoveredContent() {
    const std::wstring folder = FolderPath();
    if (folder.empty()) return;
    folders_.push_back(folder);
    // Word names a file by the path it was opened with; the temporary
    // folder may come in its short (8.3) form.
    wchar_t other[MAX_PATH * 2];
    for (auto convert : {&GetLongPathNameW, &GetShortPathNameW}) {
        const DWORD n = convert(folder.c_str(), other, static_cast<DWORD>(std::size(other)));
        if (n > 0 && n < std::size(other) && !SameText(other, folder)) folders_.emplace_back(other, n);
    }
    comparisons_ = ReadComparisons(folder + L"\\" + kComparisonsFile);
}

Protection RecoveredContent::protectionOf(const std::wstring& folder, const std::wstring& name) {
    if (name.empty()) nameMissing_ = true;
    if (!folder.empty()) return Holds(folders_, folder) ? Protection::Password : Protection::None;
    seen_.push_back(name);
    const Comparison* comparison = Find(comparisons_, name);
    return !comparison                ? Protection::None
           : comparison->rightsManaged ? Protection::RightsManaged
                                       : Protection::Password;
}

void RecoveredContent::forgetClosedComparisons() const {
    if (nameMissing_ || comparisons_.empty()) return;
    auto closed = [&](const Comparison& c) { return Find(comparisons_, c.name) && !Holds(seen_, c.name); };
    try {
        // Read again: the Backups window may have added one meanwhile.
        const std::wstring file = folders_.front() + L"\\" + kComparisonsFile;
        std::vector<Comparison> comparisons = ReadComparisons(file);
        if (std::erase_if(comparisons, closed) == 0) return;
        if (comparisons.empty())
            DeleteFileW(file.c_str());
        else
            WriteComparisons(file, comparisons);
    } catch (const Failure&) {
        // Kept for the next run.
    }
}
