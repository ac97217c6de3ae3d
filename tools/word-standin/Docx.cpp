#include "Docx.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "Content.h"
#include "Errors.h"

#include <windows.h>

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

}  // namespace

std::string DocxBytes(const std::wstring& content, const DocumentExtras& extras) {
    std::vector<PackagePart> parts = PackageParts(content, extras, ModifiedNow());
    std::vector<Entry> entries = {{"[Content_Types].xml", ContentTypesXml(parts)}};
    for (PackagePart& part : parts) entries.push_back({std::move(part.name), std::move(part.data)});
    return Zip(entries);
}

void WriteDocx(const std::wstring& path, const std::wstring& content, const DocumentExtras& extras) {
    std::string bytes = DocxBytes(content, extras);
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

std::wstring ContentOfDocx(std::string_view bytes, DocumentExtras* extras) {
    // Walk the local headers: our own packages have stored entries and no
    // data descriptors.
    std::string_view xml, header, image;
    size_t at = 0;
    while (at + 30 <= bytes.size() && Get32(bytes, at) == 0x04034B50) {
        uint16_t method = Get16(bytes, at + 8);
        uint32_t size = Get32(bytes, at + 18);
        uint16_t nameLength = Get16(bytes, at + 26), extraLength = Get16(bytes, at + 28);
        size_t data = at + 30 + nameLength + extraLength;
        if (data + size > bytes.size()) break;
        std::string_view name = bytes.substr(at + 30, nameLength);
        std::string_view* wanted = name == "word/document.xml"       ? &xml
                                   : name == "word/header1.xml"      ? &header
                                   : name == "word/media/image1.png" ? &image
                                                                     : nullptr;
        if (wanted) {
            if (method != 0) throw std::runtime_error("compressed part");
            *wanted = bytes.substr(data, size);
        }
        at = data + size;
    }
    if (xml.empty()) throw std::runtime_error("no word/document.xml");
    if (extras) {
        extras->header = header.empty() ? L"" : JoinParagraphs(ParagraphsOfXml(header));
        extras->image = std::string(image);
    }
    std::vector<std::wstring> paragraphs = ParagraphsOfXml(xml);
    if (paragraphs.empty()) paragraphs.emplace_back();
    return JoinParagraphs(paragraphs);
}
