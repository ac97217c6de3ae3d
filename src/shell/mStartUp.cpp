#include "shell/mStartUp.h"

#include "common/Handle.h"
#include "common/Main.h"

namespace {

bool EndsWithExe(const std::wstring& name) {
    return name.size() > 4 && CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".exe", 4, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring ProgramFileName(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(JoinPath(folder, L"*.exe").c_str(), &found));
    if (!find) return {};
    do {
        // Hidden and system files and folders are not listed; a pattern match
        // through a short name ("x.exe1" as "X~1.EXE") is not an exe.
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (EndsWithExe(found.cFileName)) return found.cFileName;
    } while (FindNextFileW(find.get(), &found));
    return {};
}

void AddToStartup() { AddToStartup(ProgramFolder()); }
void RemoveFromStartup() { RemoveFromStartup(ProgramFolder()); }

void AddToStartup(const std::wstring& folder, const RunKeys& keys) {
    try {
        std::wstring name = ProgramFileName(folder);
        if (!name.empty()) SetRunEntry(folder, name, keys);
    } catch (...) {
        // The check box keeps the user's choice whatever the registry did.
    }
}

void RemoveFromStartup(const std::wstring& folder, const RunKeys& keys) {
    try {
        std::wstring name = ProgramFileName(folder);
        if (!name.empty()) DeleteRunEntry(name, keys);
    } catch (...) {
    }
}
