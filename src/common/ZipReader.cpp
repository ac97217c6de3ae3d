#include "common/ZipReader.h"

#include "common/Failure.h"

#include <zlib.h>

#include <algorithm>

namespace {

const wchar_t kNotZip[] = L"The file is not a Word package (ZIP), or it is damaged.";

std::uint32_t Get16(std::string_view data, size_t at) {
    return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
}
std::uint32_t Get32(std::string_view data, size_t at) { return Get16(data, at) | Get16(data, at + 2) << 16; }

[[noreturn]] void Damaged() { throw Failure::Text(kNotZip); }

}  // namespace

std::vector<ZipEntry> ReadZipDirectory(std::string_view archive) {
    // The end record is the last 22 bytes, before a comment of up to 64 KB.
    constexpr size_t kEnd = 22;
    if (archive.size() < kEnd) Damaged();
    size_t end = archive.size() - kEnd;
    const size_t lowest = archive.size() > kEnd + 0xFFFF ? archive.size() - kEnd - 0xFFFF : 0;
    while (Get32(archive, end) != 0x06054b50 || end + kEnd + Get16(archive, end + 20) != archive.size()) {
        if (end == lowest) Damaged();
        --end;
    }
    const std::uint32_t count = Get16(archive, end + 10), length = Get32(archive, end + 12),
                        start = Get32(archive, end + 16);
    if (static_cast<std::uint64_t>(start) + length > end) Damaged();
    std::vector<ZipEntry> entries;
    entries.reserve(count);
    size_t at = start;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 46 > start + length || Get32(archive, at) != 0x02014b50) Damaged();
        ZipEntry e;
        e.method = static_cast<std::uint16_t>(Get16(archive, at + 10));
        e.crc = Get32(archive, at + 16);
        e.compressedSize = Get32(archive, at + 20);
        e.size = Get32(archive, at + 24);
        const size_t nameLength = Get16(archive, at + 28), extra = Get16(archive, at + 30),
                     comment = Get16(archive, at + 32);
        e.headerOffset = Get32(archive, at + 42);
        if (at + 46 + nameLength > start + length) Damaged();
        e.name.assign(archive.substr(at + 46, nameLength));
        entries.push_back(std::move(e));
        at += 46 + nameLength + extra + comment;
    }
    return entries;
}

namespace {

constexpr size_t kPiece = 64 * 1024;

struct Inflater {
    Inflater() {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw Failure::Text(L"Inflate could not start.");
    }
    ~Inflater() { inflateEnd(&z); }
    z_stream z{};
};

// Inflates packed, handing out at most declared bytes: one more is a stream
// that lies about its size.
void Inflate(std::string_view packed, std::uint32_t declared, const std::function<void(std::string_view)>& give) {
    Inflater inflater;
    z_stream& z = inflater.z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    std::string piece(kPiece, '\0');
    std::uint64_t total = 0;
    for (;;) {
        const uInt room = static_cast<uInt>(std::min<std::uint64_t>(kPiece, declared - total + 1));
        z.next_out = reinterpret_cast<Bytef*>(piece.data());
        z.avail_out = room;
        const int result = inflate(&z, Z_NO_FLUSH);
        const uInt produced = room - z.avail_out;
        total += produced;
        if (total > declared) Damaged();
        if (produced) give(std::string_view(piece.data(), produced));
        if (result == Z_STREAM_END) break;
        if (result != Z_OK) Damaged();  // cut short (no progress), or not deflate
    }
    if (total != declared) Damaged();
}

}  // namespace

void ReadZipEntryPieces(std::string_view archive, const ZipEntry& entry,
                        const std::function<void(std::string_view)>& take, std::uint32_t maxSize) {
    const size_t at = entry.headerOffset;
    if (at + 30 > archive.size() || Get32(archive, at) != 0x04034b50) Damaged();
    const size_t dataAt = at + 30 + Get16(archive, at + 26) + Get16(archive, at + 28);
    if (dataAt + entry.compressedSize > archive.size()) Damaged();
    if (entry.size > maxSize || (entry.method == 8 && entry.compressedSize * kDeflateMostPerByte + 64 < entry.size))
        throw Failure::Text(L"A part of the package is too large to be read.");
    const std::string_view packed = archive.substr(dataAt, entry.compressedSize);
    uLong crc = 0;
    auto give = [&](std::string_view piece) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
        take(piece);
    };
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size) Damaged();
        for (size_t from = 0; from < packed.size(); from += kPiece) give(packed.substr(from, kPiece));
    } else if (entry.method == 8) {
        Inflate(packed, entry.size, give);
    } else {
        throw Failure::Text(L"The package holds a part compressed in a way Word does not use.");
    }
    if (crc != entry.crc) Damaged();
}

std::string ReadZipEntry(std::string_view archive, const ZipEntry& entry, std::uint32_t maxSize) {
    std::string bytes;
    ReadZipEntryPieces(archive, entry, [&](std::string_view piece) { bytes += piece; }, maxSize);
    return bytes;
}

const ZipEntry* FindZipEntry(const std::vector<ZipEntry>& entries, std::string_view name) {
    auto same = [&](const ZipEntry& e) {
        return e.name.size() == name.size() &&
               std::equal(name.begin(), name.end(), e.name.begin(), [](char a, char b) {
                   auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
                   return lower(a) == lower(b);
               });
    };
    auto it = std::find_if(entries.begin(), entries.end(), same);
    return it == entries.end() ? nullptr : &*it;
}
