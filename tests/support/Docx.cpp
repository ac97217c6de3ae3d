// Read through the central directory (the authoritative list of a ZIP), with
// each entry's CRC-32 checked; deliberately not sharing code with the stand-in.
#include "support/Docx.h"

#include "common/Failure.h"
#include "common/Text.h"
#include "common/Zip.h"
#include "support/Files.h"

#include <zlib.h>

#include <cstdint>
#include <map>

namespace {

uint32_t U16(const std::string& b, size_t at) {
    if (at + 2 > b.size()) throw Failure::Text(L"truncated ZIP");
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

uint32_t Crc(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A raw deflate stream of an entry that must come out at exactly size bytes.
std::string Inflate(std::string packed, uint32_t size) {
    std::string out(size, '\0');
    z_stream z{};
    z.next_in = reinterpret_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = size;
    const bool ok = inflateInit2(&z, -15) == Z_OK && inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    if (!ok) throw Failure::Text(L"bad deflated ZIP entry");
    return out;
}

std::map<std::string, std::string> ZipEntries(const std::string& zip) {
    if (zip.size() < 22) throw Failure::Text(L"not a ZIP file");
    size_t end = zip.size() - 22;
    while (U32(zip, end) != 0x06054B50) {
        if (end == 0 || zip.size() - end > 22 + 65535) throw Failure::Text(L"no ZIP end record");
        --end;
    }
    uint32_t count = U16(zip, end + 10);
    size_t at = U32(zip, end + 16);
    std::map<std::string, std::string> entries;
    for (uint32_t i = 0; i < count; ++i) {
        if (U32(zip, at) != 0x02014B50) throw Failure::Text(L"bad ZIP central directory");
        uint32_t method = U16(zip, at + 10), crc = U32(zip, at + 16), packed = U32(zip, at + 20),
                 size = U32(zip, at + 24), nameLength = U16(zip, at + 28), extra = U16(zip, at + 30),
                 comment = U16(zip, at + 32), local = U32(zip, at + 42);
        std::string name = zip.substr(at + 46, nameLength);
        if ((method != 0 || packed != size) && method != 8) throw Failure::Text(L"unsupported ZIP entry");
        if (U32(zip, local) != 0x04034B50) throw Failure::Text(L"bad ZIP local header");
        size_t data = local + 30 + U16(zip, local + 26) + U16(zip, local + 28);
        if (data + packed > zip.size()) throw Failure::Text(L"truncated ZIP entry");
        std::string content = method == 0 ? zip.substr(data, size) : Inflate(zip.substr(data, packed), size);
        if (Crc(content) != crc) throw Failure::Text(L"CRC mismatch in " + FromUtf8(name));
        entries[name] = std::move(content);
        at += 46 + nameLength + extra + comment;
    }
    return entries;
}

std::wstring DecodeEntities(const std::string& text) {
    std::wstring out;
    std::wstring decoded = FromUtf8(text);
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i] != L'&') {
            out += decoded[i];
            continue;
        }
        size_t semi = decoded.find(L';', i);
        if (semi == std::wstring::npos) throw Failure::Text(L"bad XML entity");
        std::wstring name = decoded.substr(i + 1, semi - i - 1);
        static const std::map<std::wstring, wchar_t> kNamed = {
            {L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}};
        if (auto it = kNamed.find(name); it != kNamed.end()) out += it->second;
        else if (name.size() > 1 && name[0] == L'#')
            out += static_cast<wchar_t>(name[1] == L'x' ? std::stoul(name.substr(2), nullptr, 16) : std::stoul(name.substr(1)));
        else throw Failure::Text(L"unknown XML entity &" + name + L";");
        i = semi;
    }
    return out;
}

}  // namespace

std::string ReadDocxPart(const std::wstring& path, const std::string& part) {
    auto entries = ZipEntries(ReadFileBytes(path));
    for (const std::string& required : {std::string("[Content_Types].xml"), std::string("_rels/.rels"), part})
        if (!entries.count(required)) throw Failure::Text(L"package part missing: " + FromUtf8(required));
    return entries[part];
}

std::vector<std::wstring> ReadDocxParagraphs(const std::wstring& path, const std::string& part) {
    const std::string xml = ReadDocxPart(path, part);
    std::vector<std::wstring> paragraphs;
    bool inParagraph = false, inText = false;
    std::string text;
    size_t i = 0;
    while (i < xml.size()) {
        if (xml[i] != '<') {
            if (inText) text += xml[i];
            ++i;
            continue;
        }
        size_t close = xml.find('>', i);
        if (close == std::string::npos) throw Failure::Text(L"unterminated XML tag");
        std::string tag = xml.substr(i + 1, close - i - 1);
        i = close + 1;
        bool ending = !tag.empty() && tag[0] == '/';
        bool empty = !tag.empty() && tag.back() == '/';
        std::string name = tag.substr(ending ? 1 : 0);
        name = name.substr(0, name.find_first_of(" /\t\r\n"));
        if (name == "w:p") {
            if (!ending) paragraphs.emplace_back();
            inParagraph = !ending && !empty;
        } else if (name == "w:t") {
            if (ending) {
                if (!inParagraph) throw Failure::Text(L"w:t outside a paragraph");
                paragraphs.back() += DecodeEntities(text);
                text.clear();
            }
            inText = !ending && !empty;
        } else if (name == "w:tab" && inParagraph) {
            paragraphs.back() += L'\t';
        } else if (name == "w:br" && inParagraph) {
            paragraphs.back() += L'\v';
        }
    }
    return paragraphs;
}

std::wstring ReadDocxText(const std::wstring& path) {
    std::wstring text;
    auto paragraphs = ReadDocxParagraphs(path);
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i) text += L'\n';
        text += paragraphs[i];
    }
    return text;
}

void WritePackageFile(const std::wstring& path, const std::vector<PackageFilePart>& parts) {
    std::string types = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    for (const PackageFilePart& part : parts)
        types += "<Override PartName=\"/" + part.name + "\" ContentType=\"" + part.contentType + "\"/>";
    ZipWriter zip;
    zip.add("[Content_Types].xml", types + "</Types>");
    for (const PackageFilePart& part : parts) zip.add(part.name, part.bytes);
    WriteFileBytes(path, zip.finish());
}

void WriteWordPackage(const std::wstring& path, const std::string& text, const std::string& picture) {
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    std::vector<PackageFilePart> parts = {
        {"_rels/.rels", "application/vnd.openxmlformats-package.relationships+xml",
         declaration + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
         declaration + "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                       "<w:body><w:p><w:r><w:t>" + text + "</w:t></w:r></w:p></w:body></w:document>"}};
    if (!picture.empty()) parts.push_back({"word/media/image1.png", "image/png", picture});
    WritePackageFile(path, parts);
}
