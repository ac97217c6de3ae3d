#include "engine/WebFolders.h"

#include "common/Handle.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <optional>

namespace {

constexpr wchar_t kProvidersKey[] = L"Software\\SyncEngines\\Providers\\OneDrive";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%E6%97%A5" and its like as the characters they encode in UTF-8; none when
// the bytes are not UTF-8.
std::optional<std::wstring> PercentDecoded(std::wstring_view text) {
    if (text.empty()) return std::wstring();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string utf8(size, '\0'), bytes;
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    for (size_t i = 0; i < utf8.size(); ++i) {
        const int high = utf8[i] == '%' && i + 2 < utf8.size() ? HexValue(utf8[i + 1]) : -1,
                  low = high < 0 ? -1 : HexValue(utf8[i + 2]);
        if (low < 0) {
            bytes += utf8[i];
            continue;
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring decoded(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), decoded.data(), length);
    return decoded;
}

std::wstring WithoutTrailing(std::wstring text, wchar_t c) {
    while (!text.empty() && text.back() == c) text.pop_back();
    return text;
}

// A folder name as the rest of a web address gives it; "." and ".." would
// climb out of the mount point.
bool IsFolderName(const std::wstring& name) {
    if (name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (c < 32 || std::wcschr(L"\\:*?\"<>|", c)) return false;
    return true;
}

std::wstring RegistryText(HKEY key, const wchar_t* subkey, const wchar_t* value) {
    DWORD bytes = 0;
    if (RegGetValueW(key, subkey, value, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return {};
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key, subkey, value, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) != ERROR_SUCCESS) return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

}  // namespace

bool IsWebAddress(std::wstring_view path) {
    const size_t colon = path.find(L"://");
    return colon != std::wstring_view::npos && colon > 0 &&
           std::all_of(path.begin(), path.begin() + colon, [](wchar_t c) { return std::iswalpha(c); });
}

std::wstring MappedFolder(std::wstring_view url, const std::vector<SyncRoot>& roots) {
    const std::optional<std::wstring> address = PercentDecoded(url);
    if (!address) return {};
    const SyncRoot* best = nullptr;
    size_t bestLength = 0;
    for (const SyncRoot& root : roots) {
        const std::optional<std::wstring> space = PercentDecoded(WithoutTrailing(root.urlNamespace, L'/'));
        if (!space || space->empty() || root.mountPoint.empty() || space->size() > address->size()) continue;
        // Web servers and the sync client ignore the case of these paths.
        if (CompareStringOrdinal(space->data(), static_cast<int>(space->size()), address->data(),
                                 static_cast<int>(space->size()), TRUE) != CSTR_EQUAL)
            continue;
        if (address->size() > space->size() && (*address)[space->size()] != L'/') continue;
        if (space->size() >= bestLength) best = &root, bestLength = space->size();
    }
    if (!best) return {};
    std::wstring folder = WithoutTrailing(best->mountPoint, L'\\');
    for (size_t from = bestLength; from < address->size();) {
        const size_t slash = std::min(address->find(L'/', from + 1), address->size());
        const std::wstring name = address->substr(from + 1, slash - from - 1);
        from = slash;
        if (name.empty()) continue;
        if (!IsFolderName(name)) return {};
        folder += L"\\" + name;
    }
    return folder;
}

std::vector<SyncRoot> SyncRoots() {
    std::vector<SyncRoot> roots;
    UniqueKey providers;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kProvidersKey, 0, KEY_READ, providers.put()) != ERROR_SUCCESS) return roots;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(std::size(name));
        const LSTATUS status = RegEnumKeyExW(providers.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        SyncRoot root{RegistryText(providers.get(), name, L"UrlNamespace"),
                      RegistryText(providers.get(), name, L"MountPoint")};
        if (!root.urlNamespace.empty() && !root.mountPoint.empty()) roots.push_back(std::move(root));
    }
    return roots;
}

std::wstring SyncedFolderOf(std::wstring_view url) {
    const std::wstring folder = MappedFolder(url, SyncRoots());
    if (folder.empty()) return {};
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? folder : std::wstring();
}
