#include "common/CompleteFile.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/MessagePump.h"
#include "common/MonotonicClock.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t kPrefixLength = std::size(kUnfinishedPrefix) - 1;
constexpr ULONGLONG kMinuteIn100ns = 60ull * 10'000'000;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// A path past MAX_PATH gets the extended form, which CreateFileW and
// MoveFileExW accept for full paths: the temporary name may be longer than
// the backup's.
std::wstring Extended(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
    if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// A new, empty temporary file in folder, open for writing by us alone.
UniqueFile CreateUnfinished(const std::wstring& folder, std::wstring& path) {
    for (int attempt = 0;; ++attempt) {
        wchar_t digits[9];
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        swprintf(digits, 9, L"%08X",
                 static_cast<unsigned>(now.LowPart ^ (GetCurrentProcessId() << 16) ^ (attempt * 0x9E3779B9u)));
        path = folder + kUnfinishedPrefix + digits + L".tmp";
        UniqueFile file(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 16)
            throw Failure::FromWin32(error);
    }
}

bool IsHeldError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

constexpr ULONGLONG kHeldBound = 2000;
// The budget of the run under way on this thread, if any.
thread_local HeldFileBudget* t_heldBudget = nullptr;

}  // namespace

HeldFileBudget::HeldFileBudget(unsigned long long& left) : left_(left), outer_(t_heldBudget) {
    t_heldBudget = this;
}

HeldFileBudget::~HeldFileBudget() { t_heldBudget = outer_; }

bool RetryWhileHeld(const std::function<bool()>& act) {
    HeldFileBudget* const budget = t_heldBudget;
    const ULONGLONG bound = budget ? std::min(kHeldBound, budget->left_) : kHeldBound;
    // Only the waiting counts: act itself may be a long call into Word.
    ULONGLONG waited = 0;
    for (DWORD pause = 10;; pause *= 2) {
        const bool done = act();
        const DWORD error = GetLastError();
        if (done || !IsHeldError(error) || waited >= bound) {
            if (budget) budget->left_ -= std::min(budget->left_, waited);
            SetLastError(error);
            return done;
        }
        const auto start = MonotonicClock::now();
        WaitPumping(static_cast<DWORD>(std::min<ULONGLONG>(pause, bound - waited)));
        waited += std::chrono::ceil<std::chrono::milliseconds>(MonotonicClock::now() - start).count();
    }
}

bool DeleteHeldFile(const std::wstring& path) {
    return RetryWhileHeld([&] { return DeleteFileW(Extended(path).c_str()) != FALSE; });
}

bool IsHeldByAnotherProgram(const std::wstring& path) {
    UniqueFile file(CreateFileW(Extended(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

bool WriteFileComplete(const std::wstring& path, std::string_view bytes) {
    std::wstring temporary;
    UniqueFile file = CreateUnfinished(FolderOf(path), temporary);
    // A scanner may hold the temporary file too: it goes once let go.
    auto remove = [&] {
        file.reset();
        DeleteHeldFile(temporary);
    };
    auto fail = [&](DWORD error) {
        remove();
        throw Failure::FromWin32(error);
    };
    for (size_t done = 0; done < bytes.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) fail(GetLastError());
        if (written == 0) fail(ERROR_DISK_FULL);
        done += written;
    }
    // On the disk before the name points at it: a power cut after the move
    // must not leave the backup name on an empty file.
    if (!FlushFileBuffers(file.get())) fail(GetLastError());
    file.reset();
    if (RetryWhileHeld([&] {
            return MoveFileExW(Extended(temporary).c_str(), Extended(path).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        }))
        return true;
    const DWORD error = GetLastError();
    // Held past the bound: the file at path when it is there (one the user
    // keeps open); else the temporary file, or a folder that refuses.
    if (!IsHeldError(error) || GetFileAttributesW(Extended(path).c_str()) == INVALID_FILE_ATTRIBUTES) fail(error);
    remove();
    return false;
}

unsigned long NewFileError(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    try {
        std::wstring temporary;
        UniqueFile file = CreateUnfinished(base, temporary);
        file.reset();
        DeleteFileW(Extended(temporary).c_str());
        return 0;
    } catch (const Failure& failure) {
        return HRESULT_CODE(failure.number());
    }
}

bool IsUnfinishedFileName(std::wstring_view name) {
    if (name.size() != kPrefixLength + 12 || !name.starts_with(kUnfinishedPrefix) || !name.ends_with(L".tmp"))
        return false;
    for (wchar_t c : name.substr(kPrefixLength, 8))
        if (!std::iswxdigit(c)) return false;
    return true;
}

int RemoveUnfinishedFiles(const std::wstring& folder) {
    // Maybe being written by another Orvelle while younger.
    return RemoveFilesNoneHolds(folder, std::wstring(kUnfinishedPrefix) + L"*.tmp", IsUnfinishedFileName,
                                kMinuteIn100ns);
}

int RemoveFilesNoneHolds(const std::wstring& folder, const std::wstring& pattern, bool (*isOurs)(std::wstring_view),
                         unsigned long long minimumAge) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(Extended(base + pattern).c_str(), &found));
    if (!find) return 0;
    FILETIME nowFile;
    GetSystemTimeAsFileTime(&nowFile);
    const ULONGLONG now = (ULONGLONG{nowFile.dwHighDateTime} << 32) | nowFile.dwLowDateTime;
    int removed = 0;
    do {
        const DWORD attributes = found.dwFileAttributes;
        if (!isOurs(found.cFileName) || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const ULONGLONG written =
            (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime;
        if (now < written + minimumAge) continue;
        if (DeleteIfNoneHolds(base + found.cFileName, attributes)) ++removed;
    } while (FindNextFileW(find.get(), &found));
    return removed;
}

bool DeleteIfNoneHolds(const std::wstring& file, unsigned long attributes) {
    const std::wstring path = Extended(file);
    // A read-only file cannot be deleted.  Attributes change without share
    // access, so this works while another program holds it; the exclusive
    // open below then fails and the attribute is put back.
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // Shared with no one: a file open elsewhere refuses this and stays.
    UniqueFile handle(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle && readOnly) SetFileAttributesW(path.c_str(), attributes);
    return static_cast<bool>(handle);
}
