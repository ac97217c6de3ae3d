#include "support/Paths.h"

#include "common/Text.h"

#include <windows.h>

namespace {

// Wine's own conversions, exported by its kernel32 (absent on Windows).
template <class F>
F WineFunction(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

}  // namespace

std::wstring WindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    if (auto toDos = WineFunction<WCHAR*(CDECL*)(const char*)>("wine_get_dos_file_name")) {
        if (WCHAR* dos = toDos(ToUtf8(path).c_str())) {
            std::wstring result = dos;
            HeapFree(GetProcessHeap(), 0, dos);
            return result;
        }
    }
    std::wstring result = L"Z:" + path;
    for (wchar_t& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

std::wstring UnixPath(const std::wstring& path) {
    auto toUnix = WineFunction<char*(CDECL*)(const WCHAR*)>("wine_get_unix_file_name");
    if (!toUnix) return {};
    char* name = toUnix(path.c_str());
    if (!name) return {};
    std::wstring result = FromUtf8(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::wstring EnvironmentVariable(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (!n) return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

std::wstring BinFolder() {
    std::wstring folder = WindowsPath(EnvironmentVariable(L"ORVELLE_BIN"));
    if (folder.empty()) return ModuleFolder();
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::wstring StagedVolume(const wchar_t* name) {
    const std::wstring root = EnvironmentVariable(L"PACKAGE_VOLUMES");
    const std::wstring folder = root.empty() ? L"" : WindowsPath(root) + L"\\" + name;
    return !folder.empty() && GetFileAttributesW((folder + L"\\staged").c_str()) != INVALID_FILE_ATTRIBUTES ? folder
                                                                                                          : L"";
}
