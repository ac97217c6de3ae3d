#include "shell/mStartUp.h"

#include "common/Main.h"

namespace {

struct FolderAndName {
    std::wstring folder, name;
};

// A drive root keeps its backslash, as ProgramFolder gives it.
FolderAndName Split(const std::wstring& program) {
    const size_t slash = program.rfind(L'\\');
    if (slash == std::wstring::npos) return {L"", program};
    const size_t folderEnd = slash == 2 && program[1] == L':' ? 3 : slash;
    return {program.substr(0, folderEnd), program.substr(slash + 1)};
}

}  // namespace

void AddToStartup() { AddToStartup(ProgramPath()); }
void RemoveFromStartup() { RemoveFromStartup(ProgramPath()); }

void AddToStartup(const std::wstring& program, const RunKeys& keys) {
    try {
        const FolderAndName file = Split(program);
        if (!file.name.empty()) SetRunEntry(file.folder, file.name, keys);
    } catch (...) {
        // The check box keeps the user's choice whatever the registry did.
    }
}

void RemoveFromStartup(const std::wstring& program, const RunKeys& keys) {
    try {
        const FolderAndName file = Split(program);
        if (!file.name.empty()) DeleteRunEntry(file.name, keys);
    } catch (...) {
    }
}
