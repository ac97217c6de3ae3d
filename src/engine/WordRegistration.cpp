#include "engine/WordRegistration.h"

#include "common/Handle.h"

#include <objbase.h>
#include <windows.h>

#include <vector>

namespace {

std::optional<std::wstring> ReadText(HKEY root, const std::wstring& key) {
    DWORD bytes = 0;
    // REG_EXPAND_SZ is expanded and passes as REG_SZ.
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(text.data());
}

bool IsFullPath(const std::wstring& path) {
    return (path.size() > 2 && path[1] == L':' && path[2] == L'\\') || path.starts_with(L"\\\\");
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The server's program in either registry view: a 32-bit Word on 64-bit
// Windows registers its class in the 32-bit one, and COM looks in both.
std::wstring RegisteredServer(const CLSID& clsid) {
    wchar_t clsidText[40];
    StringFromGUID2(clsid, clsidText, 40);
    const std::wstring key = std::wstring(L"CLSID\\") + clsidText + L"\\LocalServer32";
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        UniqueKey opened;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS)
            continue;
        if (auto line = ReadText(opened.get(), L"")) {
            std::wstring program = ServerProgram(*line);
            if (!program.empty()) return program;
        }
    }
    return {};
}

std::optional<double> FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size) return std::nullopt;
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length < sizeof *info ||
        HIWORD(info->dwFileVersionMS) == 0)
        return std::nullopt;
    // Word's versions are whole numbers: 11.0, 12.0, ..., 16.0.
    return HIWORD(info->dwFileVersionMS);
}

}  // namespace

std::wstring ServerProgram(const std::wstring& commandLine) {
    const size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return {};
    if (commandLine[start] == L'"') {
        const size_t end = commandLine.find(L'"', start + 1);
        if (end == std::wstring::npos) return {};
        std::wstring program = commandLine.substr(start + 1, end - start - 1);
        return IsFullPath(program) && IsFile(program) ? program : std::wstring();
    }
    // Unquoted, as CreateProcess reads it: the shortest run of words that
    // names a file ("C:\Program Files\...\WINWORD.EXE /Automation").
    for (size_t end = commandLine.find(L' ', start);; end = commandLine.find(L' ', end + 1)) {
        std::wstring program = commandLine.substr(start, end == std::wstring::npos ? end : end - start);
        if (IsFullPath(program) && IsFile(program)) return program;
        if (end == std::wstring::npos) return {};
    }
}

std::optional<double> CurVerVersion(const std::wstring& progId, const std::wstring& curVer) {
    const std::wstring prefix = progId + L".";
    if (curVer.size() <= prefix.size() || curVer.size() > prefix.size() + 4 ||
        CompareStringOrdinal(curVer.c_str(), static_cast<int>(prefix.size()), prefix.c_str(), -1, TRUE) != CSTR_EQUAL)
        return std::nullopt;
    double version = 0;
    for (size_t i = prefix.size(); i < curVer.size(); ++i) {
        if (curVer[i] < L'0' || curVer[i] > L'9') return std::nullopt;
        version = version * 10 + (curVer[i] - L'0');
    }
    return version;
}

WordRegistration ReadWordRegistration(const std::wstring& progId) {
    WordRegistration found;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId.c_str(), &clsid))) return found;
    found.registered = true;
    found.server = RegisteredServer(clsid);
    if (auto curVer = ReadText(HKEY_CLASSES_ROOT, progId + L"\\CurVer")) found.version = CurVerVersion(progId, *curVer);
    if (!found.version && !found.server.empty()) found.version = FileVersion(found.server);
    return found;
}
