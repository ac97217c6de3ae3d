#pragma once
// Reading a ZIP archive held in memory: the central directory's entries
// (names, CRC-32s and sizes, so that an entry seen before in another archive
// need not be read again), and an entry's bytes, stored or inflated with
// zlib.  No ZIP64, no encryption: a package that Word or Orvelle writes
// never needs either.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ZipEntry {
    std::string name;  // as stored: UTF-8 (or code page 437), forward slashes
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint16_t method = 0;  // 0 stored, 8 deflated
    std::uint32_t headerOffset = 0;
};

// The entries of archive, in directory order.  Throws Failure when archive
// is no ZIP or its directory lies outside it.
std::vector<ZipEntry> ReadZipDirectory(std::string_view archive);
// The entry's bytes, checked against its size and CRC-32.  Throws Failure
// for any other method, a damaged entry, or an entry past maxSize.
std::string ReadZipEntry(std::string_view archive, const ZipEntry& entry, std::uint32_t maxSize = 0x40000000);
// The entry of that name (ASCII case ignored, as OPC names are), or null.
const ZipEntry* FindZipEntry(const std::vector<ZipEntry>& entries, std::string_view name);
