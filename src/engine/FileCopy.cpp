// A saved Word package copied from its file: Word is not asked for anything.
#include "engine/DocumentCopy.h"

#include "common/Handle.h"
#include "common/Zip.h"

#include <algorithm>
#include <cwctype>

namespace {

constexpr int kReads = 2;  // a read that meets a save is tried once more

std::wstring ExtensionOf(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
    std::ranges::transform(extension, extension.begin(), [](wchar_t c) { return std::towlower(c); });
    return extension;
}

}  // namespace

std::optional<ContentFingerprint> FileStamp(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const std::uint64_t written =
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return ContentFingerprint{written ^ (size * 0x9E3779B97F4A7C15ull), size};
}

namespace {

// Word keeps a password-protected package encrypted in an OLE compound file:
// a whole one is its header and whole sectors.
bool IsCompleteCompoundFile(std::string_view bytes) {
    static constexpr std::string_view kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (bytes.size() < 512 || bytes.substr(0, 8) != kSignature) return false;
    const unsigned shift = static_cast<unsigned char>(bytes[30]) | static_cast<unsigned char>(bytes[31]) << 8;
    if (shift != 9 && shift != 12) return false;
    // The header fills the first sector: 512 bytes, or 4096 with its padding.
    return bytes.size() % (size_t{1} << shift) == 0;
}

// The whole file, read with every sharing Word may need meanwhile: Word
// holds it with write access, and its save deletes and renames it.
std::optional<std::string> ReadAsItStands(const std::wstring& file, const ContentFingerprint& stamp) {
    UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle || stamp.bytes > ZipWriter::kMaxBytes) return std::nullopt;
    std::string bytes(stamp.bytes, '\0');
    DWORD read = 0;
    if (!ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
        return std::nullopt;
    // A save that replaced the file meanwhile left this handle on the old one.
    if (FileStamp(file) != stamp) return std::nullopt;
    return bytes;
}

}  // namespace

bool IsWordPackageName(const std::wstring& name) {
    const std::wstring extension = ExtensionOf(name);
    return extension == L".docx" || extension == L".docm" || extension == L".dotx" || extension == L".dotm";
}

std::optional<DocxPackage> ReadSavedPackage(const std::wstring& file) {
    for (int attempt = 1; attempt <= kReads; ++attempt) {
        const std::optional<ContentFingerprint> stamp = FileStamp(file);
        if (!stamp) continue;  // between a save's delete and its rename
        std::optional<std::string> bytes = ReadAsItStands(file, *stamp);
        if (bytes && (IsCompleteZip(*bytes) || IsCompleteCompoundFile(*bytes)))
            return DocxPackage{std::move(*bytes), ExtensionOf(file), *stamp};
    }
    return std::nullopt;
}
