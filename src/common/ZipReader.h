#pragma once
// Reading a ZIP archive held in memory: the central directory's entries
// (names, CRC-32s and sizes, so that an entry seen before in another archive
// need not be read again), and an entry's bytes, stored or inflated with
// zlib.  No ZIP64, no encryption: a package that Word or Orvelle writes
// never needs either.
//
// A file in a backup folder may be anything, a planted "zip bomb" too: an
// entry is read only when its declared sizes are plausible, never past its
// declared size, and a piece at a time.
#include <cstdint>
#include <functional>
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
// The largest entry read by default: far above any part of Word's.
inline constexpr std::uint32_t kLargestZipEntry = 256u << 20;
// The most that deflate makes of a byte (258 bytes from 2 bits).
inline constexpr std::uint64_t kDeflateMostPerByte = 1032;

// Hands the entry's bytes to take a piece at a time (at most 64 KB each),
// checking them against its declared size and CRC-32.  Throws Failure for
// any other method, an entry over maxSize or larger than deflate makes of
// its compressed size, and a damaged entry: a stream that is cut short, gives
// more or less than declared, or fails its CRC-32 (the pieces handed over
// are then of no use).
void ReadZipEntryPieces(std::string_view archive, const ZipEntry& entry,
                        const std::function<void(std::string_view)>& take, std::uint32_t maxSize = kLargestZipEntry);
// The same in one string, for small parts.
std::string ReadZipEntry(std::string_view archive, const ZipEntry& entry, std::uint32_t maxSize = kLargestZipEntry);
// The entry of that name (ASCII case ignored, as OPC names are), or null.
const ZipEntry* FindZipEntry(const std::vector<ZipEntry>& entries, std::string_view name);
