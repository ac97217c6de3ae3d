#include "engine/Housekeeping.h"

#include "common/ClipboardLock.h"
#include "common/Guard.h"
#include "common/Handle.h"

#include <algorithm>
#include <cwctype>
#include <limits>
#include <optional>
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

std::wstring LocaleText(LCTYPE type) {
    wchar_t text[80] = {};
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 80);
    return text;
}

// Consumes text at pos when it starts with word.
bool Take(std::wstring_view text, size_t& pos, std::wstring_view word) {
    if (word.empty() || text.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
}

// Consumes between min and max decimal digits.
bool TakeDigits(std::wstring_view text, size_t& pos, size_t min, size_t max) {
    size_t start = pos;
    while (pos < text.size() && pos - start < max && text[pos] >= L'0' && text[pos] <= L'9') ++pos;
    return pos - start >= min;
}

std::wstring Megabytes(std::uint64_t bytes) { return std::to_wstring(bytes / (1024 * 1024)) + L" MB"; }

// What each document's last backup made by this process held.
std::map<std::wstring, ContentFingerprint>& LastBackups() {
    static std::map<std::wstring, ContentFingerprint> last;
    return last;
}

std::function<std::uint64_t(const std::wstring&)>& FreeSpaceSource() {
    static std::function<std::uint64_t(const std::wstring&)> source;
    return source;
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

bool IsStampedBackupOf(std::wstring_view name, std::wstring_view stem, std::wstring_view extension) {
    size_t pos = 0;
    if (!Take(name, pos, stem) || !Take(name, pos, L" Date ")) return false;
    bool month = false;
    for (LCTYPE m = LOCALE_SABBREVMONTHNAME1; m <= LOCALE_SABBREVMONTHNAME12 && !month; ++m)
        month = Take(name, pos, LocaleText(m) + L" ");
    if (!month || !TakeDigits(name, pos, 1, 2) || !Take(name, pos, L" ") || !TakeDigits(name, pos, 4, 4) ||
        !Take(name, pos, L" Time "))
        return false;
    for (int part = 0; part < 3; ++part)
        if (!TakeDigits(name, pos, 2, 2) || !Take(name, pos, L" ")) return false;
    // The designators as BuildBackupName writes them.
    std::wstring am = LocaleText(LOCALE_S1159), pm = LocaleText(LOCALE_S2359);
    if (am.empty()) am = L"AM";
    if (pm.empty()) pm = L"PM";
    if (!Take(name, pos, am) && !Take(name, pos, pm)) return false;
    size_t numbered = pos;
    if (Take(name, numbered, L" (") && TakeDigits(name, numbered, 1, 6) && Take(name, numbered, L")")) pos = numbered;
    return Take(name, pos, extension) && pos == name.size();
}

int PruneBackups(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension,
                 std::chrono::hours maxAge) {
    // A folder that is itself a link is not followed.
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const std::uint64_t age = static_cast<std::uint64_t>(maxAge.count()) * 3600ull * 10'000'000ull;
    const std::uint64_t cutoff = ticks(now) > age ? ticks(now) - age : 0;

    const std::wstring pattern = (folder.empty() || folder.back() != L'\\' ? folder + L"\\" : folder) + L"*";
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find) return 0;
    std::vector<std::pair<std::uint64_t, std::wstring>> backups;  // last write, name
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (IsStampedBackupOf(found.cFileName, stem, extension)) backups.emplace_back(ticks(found.ftLastWriteTime), found.cFileName);
    } while (FindNextFileW(find.get(), &found));
    if (backups.empty()) return 0;
    std::sort(backups.begin(), backups.end());
    backups.pop_back();  // the newest stays, however old
    int removed = 0;
    for (const auto& [written, name] : backups) {
        if (written >= cutoff) continue;
        const std::wstring path = pattern.substr(0, pattern.size() - 1) + name;
        if (DeleteFileW(path.c_str())) ++removed;
    }
    return removed;
}

std::uint64_t FreeSpace(const std::wstring& folder) {
    if (FreeSpaceSource()) return FreeSpaceSource()(folder);
    ULARGE_INTEGER available;
    // Unknown (a folder that does not exist yet fails later, at the save).
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
        return std::numeric_limits<std::uint64_t>::max();
    return available.QuadPart;
}

void SetFreeSpaceForTests(std::function<std::uint64_t(const std::wstring&)> source) {
    FreeSpaceSource() = std::move(source);
}

std::uint64_t RequiredFreeSpace(std::uint64_t copiedBytes) {
    constexpr std::uint64_t kFloor = 200ull * 1024 * 1024;
    return std::max(kFloor, copiedBytes * 10);
}

// ---- RunHousekeeping ----------------------------------------------------------------

bool RunHousekeeping::worthSaving(Guard& guard, const std::wstring& documentKey, const std::wstring& path) {
    copied_ = {};
    // Only a skip needs the fingerprint: without it the clipboard is not read
    // again (another program may hold it by now), and the free space needed
    // is the floor.
    if (settings_.SkipUnchanged()) {
        std::optional<ContentFingerprint> print;
        guard.step(23, [&] { print = FingerprintClipboard(settings_.Owner()); });
        if (!print) return true;
        copied_ = *print;
        // The first backup after start-up is always made: nothing is known yet.
        auto last = LastBackups().find(documentKey);
        if (last != LastBackups().end() && last->second == copied_) return false;
    }
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    const std::uint64_t free = FreeSpace(folder), needed = RequiredFreeSpace(copied_.bytes);
    if (free >= needed) return true;
    if (!spaceReported_) {
        spaceReported_ = true;
        guard.step(23, [&] {
            throw Failure::Text(L"There is not enough free space in " + folder + L" for a backup: " +
                                Megabytes(free) + L" free, " + Megabytes(needed) + L" needed. No backup is " +
                                L"saved there until there is room.");
        });
    }
    return false;
}

void RunHousekeeping::saved(const std::wstring& documentKey) { LastBackups()[documentKey] = copied_; }

void RunHousekeeping::wrote(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\') + 1;
    const std::wstring fileName = path.substr(slash);
    written_.emplace_back(path.substr(0, slash), fileName.substr(0, fileName.rfind(L" Date ")));
}

void RunHousekeeping::prune() {
    const int days = settings_.KeepBackupsDays();
    if (days <= 0 || !settings_.CreateNewFile()) return;
    int removed = 0;
    for (const auto& [folder, stem] : written_)
        removed += PruneBackups(folder, stem, settings_.DocExtension(), std::chrono::hours(24 * days));
    if (removed == 0) return;
    AppendHistoryLine(settings_.HistoryFile(),
                      L"Removed " + std::to_wstring(removed) + (removed == 1 ? L" backup" : L" backups") +
                          L" older than " + std::to_wstring(days) + (days == 1 ? L" day" : L" days") + L" at " +
                          GeneralDate(LocalNow()));
}
