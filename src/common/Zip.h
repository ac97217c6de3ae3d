#pragma once
// A ZIP archive built in memory: entries deflated or stored, CRC-32 and deflate from
// zlib, no ZIP64.  Entry times are 1980-01-01 00:00, as Word writes them, so
// that one content always gives the same bytes.
#include <cstdint>
#include <string>
#include <string_view>

class ZipWriter {
public:
    // The largest archive without ZIP64: sizes and offsets fit in 32 bits.
    static constexpr std::uint64_t kMaxBytes = 0xFFFFFFFEull;
    explicit ZipWriter(std::uint64_t maxBytes = kMaxBytes) : maxBytes_(maxBytes) {}

    // name in UTF-8, with forward slashes; stored as it is with store (what
    // is compressed already, a picture), else deflated.  Throws Failure when
    // the archive would pass what a ZIP without ZIP64 holds.
    void add(std::string_view name, std::string_view data, bool store = false);
    // The central directory and its end record appended: the whole archive.
    std::string finish();

private:
    void checkSize(std::uint64_t bytes) const;

    std::uint64_t maxBytes_;
    std::string out_;
    std::string directory_;
    std::uint32_t entries_ = 0;
};

// Whether bytes are a whole ZIP archive, as a reader that meets a file
// half-written would not find it: the end record at the end, the central
// directory right before it, and every entry's local header and data before
// the directory.  No ZIP64: an archive that needs it counts as not whole.
bool IsCompleteZip(std::string_view bytes);

// The failure text of a package that would need ZIP64.
extern const wchar_t kZipTooLarge[];
