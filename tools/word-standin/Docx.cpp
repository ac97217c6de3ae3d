#include "Docx.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "Content.h"
#include "Errors.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

uint32_t Crc32(std::string_view data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}
uint16_t Get16(std::string_view in, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1]) << 8);
}
uint32_t Get32(std::string_view in, size_t at) { return Get16(in, at) | static_cast<uint32_t>(Get16(in, at + 2)) << 16; }

struct Entry {
    std::string name;
    std::string data;
};

// A ZIP with stored (uncompressed) entries: local headers, central
// directory, end record.
std::string Zip(const std::vector<Entry>& entries) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    uint16_t dosTime = static_cast<uint16_t>(now.wHour << 11 | now.wMinute << 5 | now.wSecond / 2);
    uint16_t dosDate = static_cast<uint16_t>((now.wYear - 1980) << 9 | now.wMonth << 5 | now.wDay);

    std::string out, central;
    for (const Entry& e : entries) {
        uint32_t offset = static_cast<uint32_t>(out.size());
        uint32_t crc = Crc32(e.data);
        auto size = static_cast<uint32_t>(e.data.size());
        auto nameLength = static_cast<uint16_t>(e.name.size());

        Put32(out, 0x04034B50);
        Put16(out, 20);  // version needed
        Put16(out, 0);   // flags
        Put16(out, 0);   // stored
        Put16(out, dosTime);
        Put16(out, dosDate);
        Put32(out, crc);
        Put32(out, size);
        Put32(out, size);
        Put16(out, nameLength);
        Put16(out, 0);
        out += e.name;
        out += e.data;

        Put32(central, 0x02014B50);
        Put16(central, 20);  // made by
        Put16(central, 20);  // needed
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, dosTime);
        Put16(central, dosDate);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, nameLength);
        Put16(central, 0);  // extra
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0);  // external attributes
        Put32(central, offset);
        central += e.name;
    }
    auto centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

// The entries of a ZIP, from its central directory (so data descriptors
// do not matter): stored or deflated.
std::vector<Entry> Unzip(std::string_view bytes) {
    size_t end = bytes.size() >= 22 ? bytes.size() - 22 : std::string_view::npos;
    while (end != std::string_view::npos && Get32(bytes, end) != 0x06054B50) end = end ? end - 1 : std::string_view::npos;
    if (end == std::string_view::npos) throw std::runtime_error("no end of central directory");
    std::vector<Entry> entries;
    size_t at = Get32(bytes, end + 16);
    for (uint16_t n = Get16(bytes, end + 10); n > 0; --n) {
        if (at + 46 > bytes.size() || Get32(bytes, at) != 0x02014B50) throw std::runtime_error("bad central directory");
        const uint16_t method = Get16(bytes, at + 10);
        const uint32_t crc = Get32(bytes, at + 16), packed = Get32(bytes, at + 20), size = Get32(bytes, at + 24);
        const uint16_t nameLength = Get16(bytes, at + 28);
        const size_t local = Get32(bytes, at + 42);
        Entry entry{std::string(bytes.substr(at + 46, nameLength)), {}};
        at += 46 + nameLength + Get16(bytes, at + 30) + Get16(bytes, at + 32);
        if (local + 30 > bytes.size()) throw std::runtime_error("bad local header");
        const size_t data = local + 30 + Get16(bytes, local + 26) + Get16(bytes, local + 28);
        if (data + packed > bytes.size()) throw std::runtime_error("entry past the end");
        const std::string_view stored = bytes.substr(data, packed);
        if (method == 0) {
            entry.data = stored;
        } else if (method == 8) {
            entry.data.resize(size);
            z_stream z{};
            inflateInit2(&z, -MAX_WBITS);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
            z.avail_in = static_cast<uInt>(stored.size());
            z.next_out = reinterpret_cast<Bytef*>(entry.data.data());
            z.avail_out = static_cast<uInt>(entry.data.size());
            const int result = inflate(&z, Z_FINISH);
            inflateEnd(&z);
            if (result != Z_STREAM_END || z.total_out != size) throw std::runtime_error("bad deflate data");
        } else {
            throw std::runtime_error("unknown compression");
        }
        if (Crc32(entry.data) != crc) throw std::runtime_error("CRC error");
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

std::string ZipOfParts(const std::vector<PackagePart>& parts) {
    std::vector<Entry> entries = {{"[Content_Types].xml", ContentTypesXml(parts)}};
    for (const PackagePart& part : parts) entries.push_back({part.name, part.data});
    return Zip(entries);
}

void WriteDocx(const std::wstring& path, const std::vector<PackagePart>& parts) {
    std::string bytes = ZipOfParts(parts);
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        DWORD error = GetLastError();
        throw WordError(kErrorCannotSave, L"Word cannot save or create this file. " +
                                              SystemMessage(HRESULT_FROM_WIN32(error)) + L" (" + path + L")");
    }
}

bool LooksLikeZip(std::string_view bytes) { return bytes.size() >= 4 && bytes.substr(0, 4) == "PK\x03\x04"; }

std::vector<PackagePart> ReadDocxParts(std::string_view bytes) {
    std::vector<Entry> entries = Unzip(bytes);
    auto types = std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return e.name == "[Content_Types].xml"; });
    if (types == entries.end()) throw std::runtime_error("no [Content_Types].xml");
    const std::string typesXml = types->data;
    // <Default Extension="png" ContentType="image/png"/>, <Override PartName="/word/document.xml" ContentType="..."/>
    auto attribute = [](std::string_view tag, std::string_view name) {
        const size_t at = tag.find(std::string(name) + "=\"");
        if (at == std::string_view::npos) return std::string();
        const size_t from = at + name.size() + 2;
        return std::string(tag.substr(from, tag.find('"', from) - from));
    };
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::vector<std::pair<std::string, std::string>> defaults, overrides;
    for (size_t at = typesXml.find('<'); at != std::string::npos; at = typesXml.find('<', at + 1)) {
        const std::string_view tag = std::string_view(typesXml).substr(at, typesXml.find('>', at) - at);
        if (tag.starts_with("<Default "))
            defaults.emplace_back(lower(attribute(tag, "Extension")), attribute(tag, "ContentType"));
        else if (tag.starts_with("<Override "))
            overrides.emplace_back(lower(attribute(tag, "PartName")), attribute(tag, "ContentType"));
    }
    std::vector<PackagePart> parts;
    for (Entry& entry : entries) {
        if (&entry == &*types || entry.name.ends_with("/")) continue;
        PackagePart part{entry.name, {}, std::move(entry.data)};
        const std::string key = lower("/" + part.name), extension = lower(part.name.substr(part.name.rfind('.') + 1));
        for (const auto& [name, type] : overrides)
            if (name == key) part.contentType = type;
        for (const auto& [ext, type] : defaults)
            if (part.contentType.empty() && ext == extension) part.contentType = type;
        if (part.contentType.empty()) throw std::runtime_error("a part without a content type");
        part.binary = !IsXmlType(part.contentType);
        parts.push_back(std::move(part));
    }
    return parts;
}
