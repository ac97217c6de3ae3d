#include "support/Files.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"

#include <atomic>

namespace {

// folder\name, whether or not folder ends in a backslash.
std::wstring Child(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
    std::wstring base(temp, n);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    for (;;) {
        path_ = base + L"\\orvelle-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw Failure::FromLastError();
    }
}

ScratchFolder::~ScratchFolder() { RemoveFolderTree(path_); }

std::wstring ScratchFolder::write(const std::wstring& name, const std::wstring& text) const {
    std::wstring path = file(name);
    WriteUtf8File(path, text);
    return path;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        throw Failure::FromLastError();
}

std::wstring WriteAgedFile(const std::wstring& path, int minutesOld, const std::string& bytes) {
    WriteFileBytes(path, bytes);
    AgeFile(path, minutesOld);
    return path;
}

void AgeFile(const std::wstring& path, int minutesOld) {
    UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER at{{now.dwLowDateTime, now.dwHighDateTime}};
    at.QuadPart -= minutesOld * 60ull * 10'000'000;
    const FILETIME then{at.LowPart, at.HighPart};
    SetFileTime(file.get(), nullptr, nullptr, &then);
}

std::string ReadFileBytes(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw Failure::FromLastError();
    std::string bytes;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n) bytes.append(buffer, n);
    return bytes;
}

void WriteUtf8File(const std::wstring& path, const std::wstring& text) { WriteFileBytes(path, ToUtf8(text)); }

std::vector<std::wstring> ReadAnsiLines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    if (!PathExists(path)) return lines;
    std::wstring text = FromAnsi(ReadFileBytes(path));
    for (size_t start = 0, end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FileNamesIn(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(Child(folder, pattern).c_str(), &found));
    if (!find) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (FindNextFileW(find.get(), &found));
    return names;
}

void RemoveFolderTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(Child(path, L"*").c_str(), &data));
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = Child(path, name);
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveFolderTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(path.c_str());
}
