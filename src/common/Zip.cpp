#include "common/Zip.h"

#include "common/Failure.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <utility>

const wchar_t kZipTooLarge[] =
    L"The backup would be larger than 4 GB, which a .docx file without ZIP64 cannot hold; no backup was written.";

namespace {

constexpr std::array<std::uint32_t, 256> CrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = CrcTable();

}  // namespace

// The CRC-32 of ZIP, under zlib's own name: deflate names crc32 only for a
// gzip wrapper, which a ZIP entry never has, and with this one defined the
// linker leaves out zlib's, whose tables are 9 KB of the exe.  A second
// definition would be a link error, never a silent choice.
extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
    if (!buf) return 0;
    std::uint32_t c = ~static_cast<std::uint32_t>(crc);
    while (len--) c = kCrcTable[(c ^ *buf++) & 0xFF] ^ (c >> 8);
    return ~c;
}

namespace {

constexpr std::uint16_t kVersion = 20;     // 2.0: deflate
constexpr std::uint16_t kUtf8Name = 1 << 11;  // the name is UTF-8, not code page 437
constexpr std::uint16_t kStored = 0, kDeflated = 8;
constexpr std::uint16_t kDos1980 = (0 << 9) | (1 << 5) | 1;  // 1980-01-01

void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Raw deflate (no zlib header) of data, appended to out.
void Deflate(std::string& out, std::string_view data) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Failure::Text(L"Deflate could not start.");
    const size_t start = out.size();
    out.resize(start + deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data() + start);
    z.avail_out = static_cast<uInt>(out.size() - start);
    const int result = deflate(&z, Z_FINISH);
    out.resize(start + z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw Failure::Text(L"Deflate failed.");
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

void ZipWriter::checkSize(std::uint64_t bytes) const {
    if (bytes > maxBytes_) throw Failure::Text(kZipTooLarge);
}

void ZipWriter::add(std::string_view name, std::string_view data, bool store) {
    // Every size, offset and count must fit its field; the largest deflate
    // output is a little above the input, so the input is checked first.
    checkSize(out_.size() + data.size());
    if (entries_ == 0xFFFF || name.size() > 0xFFFF) throw Failure::Text(kZipTooLarge);
    const std::uint32_t offset = static_cast<std::uint32_t>(out_.size());
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const std::uint16_t flags = IsAscii(name) ? 0 : kUtf8Name;
    const std::uint16_t method = store ? kStored : kDeflated;

    std::string header;
    Put32(header, 0x04034b50);
    Put16(header, kVersion);
    Put16(header, flags);
    Put16(header, method);
    Put16(header, 0);
    Put16(header, kDos1980);
    Put32(header, crc);
    const size_t sizesAt = header.size();
    Put32(header, 0);  // compressed size, known after deflating
    Put32(header, static_cast<std::uint32_t>(data.size()));
    Put16(header, static_cast<std::uint32_t>(name.size()));
    Put16(header, 0);
    header += name;
    out_ += header;
    const size_t dataAt = out_.size();
    if (store)
        out_ += data;
    else
        Deflate(out_, data);
    const std::uint64_t compressed = out_.size() - dataAt;
    checkSize(out_.size() + directory_.size() + 46 + name.size() + 22);
    std::string size;
    Put32(size, static_cast<std::uint32_t>(compressed));
    out_.replace(offset + sizesAt, 4, size);

    Put32(directory_, 0x02014b50);
    Put16(directory_, kVersion);  // made by: MS-DOS attributes
    Put16(directory_, kVersion);
    Put16(directory_, flags);
    Put16(directory_, method);
    Put16(directory_, 0);
    Put16(directory_, kDos1980);
    Put32(directory_, crc);
    Put32(directory_, static_cast<std::uint32_t>(compressed));
    Put32(directory_, static_cast<std::uint32_t>(data.size()));
    Put16(directory_, static_cast<std::uint32_t>(name.size()));
    Put16(directory_, 0);  // extra field
    Put16(directory_, 0);  // comment
    Put16(directory_, 0);  // disk
    Put16(directory_, 0);  // internal attributes
    Put32(directory_, 0);  // external attributes
    Put32(directory_, offset);
    directory_ += name;
    ++entries_;
}

std::string ZipWriter::finish() {
    const std::uint32_t directoryAt = static_cast<std::uint32_t>(out_.size());
    out_ += directory_;
    Put32(out_, 0x06054b50);
    Put16(out_, 0);
    Put16(out_, 0);
    Put16(out_, entries_);
    Put16(out_, entries_);
    Put32(out_, static_cast<std::uint32_t>(directory_.size()));
    Put32(out_, directoryAt);
    Put16(out_, 0);
    directory_.clear();
    entries_ = 0;
    return std::move(out_);
}

namespace {

std::uint32_t Get16(std::string_view bytes, size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}
std::uint32_t Get32(std::string_view bytes, size_t at) { return Get16(bytes, at) | Get16(bytes, at + 2) << 16; }

}  // namespace

bool IsCompleteZip(std::string_view bytes) {
    constexpr size_t kEndRecord = 22, kCentralHeader = 46, kLocalHeader = 30, kLongestComment = 0xFFFF;
    if (bytes.size() < kEndRecord || Get32(bytes, 0) != 0x04034b50) return false;
    // The end record: the last signature whose comment reaches the end.
    size_t end = std::string_view::npos;
    for (size_t at = bytes.size() - kEndRecord;; --at) {
        if (Get32(bytes, at) == 0x06054b50 && at + kEndRecord + Get16(bytes, at + 20) == bytes.size()) {
            end = at;
            break;
        }
        if (at == 0 || bytes.size() - at > kEndRecord + kLongestComment) return false;
    }
    const std::uint32_t entries = Get16(bytes, end + 10), size = Get32(bytes, end + 12),
                        offset = Get32(bytes, end + 16);
    if (entries == 0xFFFF || offset == 0xFFFFFFFF || static_cast<std::uint64_t>(offset) + size != end) return false;
    size_t at = offset;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (at + kCentralHeader > end || Get32(bytes, at) != 0x02014b50) return false;
        const std::uint64_t compressed = Get32(bytes, at + 20), local = Get32(bytes, at + 42);
        if (local + kLocalHeader > offset || Get32(bytes, local) != 0x04034b50) return false;
        const std::uint64_t data = local + kLocalHeader + Get16(bytes, local + 26) + Get16(bytes, local + 28);
        if (data + compressed > offset) return false;
        at += kCentralHeader + Get16(bytes, at + 28) + Get16(bytes, at + 30) + Get16(bytes, at + 32);
    }
    return at == end;
}
