#include "Docx.h"

#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "Content.h"
#include "Errors.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
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

std::string XmlText(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': escaped += L"&amp;"; break;
        case L'<': escaped += L"&lt;"; break;
        case L'>': escaped += L"&gt;"; break;
        case L'"': escaped += L"&quot;"; break;
        default:
            if (c >= 0x20 || c == L'\t') escaped += c;  // XML 1.0 allows no other control characters
        }
    }
    return ToUtf8(escaped);
}

// One w:p per paragraph; tabs and manual line breaks become their own
// run content elements, as Word writes them.
std::string DocumentXml(const std::wstring& content) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>";
    for (const std::wstring& paragraph : Paragraphs(content)) {
        if (paragraph.empty()) {
            xml += "<w:p/>";
            continue;
        }
        xml += "<w:p><w:r>";
        std::wstring run;
        auto flush = [&] {
            if (!run.empty()) xml += "<w:t xml:space=\"preserve\">" + XmlText(run) + "</w:t>";
            run.clear();
        };
        for (wchar_t c : paragraph) {
            if (c == L'\t') {
                flush();
                xml += "<w:tab/>";
            } else if (c == L'\v') {
                flush();
                xml += "<w:br/>";
            } else {
                run += c;
            }
        }
        flush();
        xml += "</w:r></w:p>";
    }
    xml += "<w:sectPr/></w:body></w:document>";
    return xml;
}

const char kContentTypes[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/word/document.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
    "</Types>";

const char kPackageRels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"word/document.xml\"/></Relationships>";

}  // namespace

std::string DocxBytes(const std::wstring& content) {
    return Zip({{"[Content_Types].xml", kContentTypes},
                {"_rels/.rels", kPackageRels},
                {"word/document.xml", DocumentXml(content)}});
}

void WriteDocx(const std::wstring& path, const std::wstring& content) {
    std::string bytes = DocxBytes(content);
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

namespace {

std::wstring XmlUnescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        size_t end = text.find(';', i);
        if (end == std::string_view::npos) break;
        std::string_view entity = text.substr(i + 1, end - i - 1);
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (!entity.empty() && entity[0] == '#') {
            unsigned long code = entity.size() > 1 && entity[1] == 'x'
                                     ? std::strtoul(std::string(entity.substr(2)).c_str(), nullptr, 16)
                                     : std::strtoul(std::string(entity.substr(1)).c_str(), nullptr, 10);
            std::wstring w;
            if (code >= 0x10000) {
                code -= 0x10000;
                w += static_cast<wchar_t>(0xD800 + (code >> 10));
                w += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
            } else {
                w += static_cast<wchar_t>(code);
            }
            out += ToUtf8(w);
        }
        i = end;
    }
    return FromUtf8(out);
}

}  // namespace

std::wstring ContentOfDocx(std::string_view bytes) {
    // Walk the local headers: our own packages have stored entries and no
    // data descriptors.
    std::string_view xml;
    size_t at = 0;
    while (at + 30 <= bytes.size() && Get32(bytes, at) == 0x04034B50) {
        uint16_t method = Get16(bytes, at + 8);
        uint32_t size = Get32(bytes, at + 18);
        uint16_t nameLength = Get16(bytes, at + 26), extraLength = Get16(bytes, at + 28);
        size_t data = at + 30 + nameLength + extraLength;
        if (data + size > bytes.size()) break;
        if (bytes.substr(at + 30, nameLength) == "word/document.xml") {
            if (method != 0) throw std::runtime_error("compressed document part");
            xml = bytes.substr(data, size);
            break;
        }
        at = data + size;
    }
    if (xml.empty()) throw std::runtime_error("no word/document.xml");

    std::vector<std::wstring> paragraphs;
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        size_t end = xml.find('>', pos);
        if (end == std::string_view::npos) break;
        std::string_view tag = xml.substr(pos + 1, end - pos - 1);
        bool selfClosing = !tag.empty() && tag.back() == '/';
        std::string_view name = tag.substr(0, tag.find_first_of(" /"));
        if (name == "w:p") {
            paragraphs.emplace_back();
        } else if (name == "w:tab" && !paragraphs.empty()) {
            paragraphs.back() += L'\t';
        } else if (name == "w:br" && !paragraphs.empty()) {
            paragraphs.back() += L'\v';
        } else if (name == "w:t" && !selfClosing && !paragraphs.empty()) {
            size_t close = xml.find("</w:t>", end);
            if (close == std::string_view::npos) break;
            paragraphs.back() += XmlUnescape(xml.substr(end + 1, close - end - 1));
            end = close + 5;
        }
        pos = end + 1;
    }
    if (paragraphs.empty()) paragraphs.emplace_back();
    return JoinParagraphs(paragraphs);
}
