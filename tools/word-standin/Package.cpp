#include "Package.h"

#include "common/Text.h"
#include "Content.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const char kRelationshipsType[] = "application/vnd.openxmlformats-package.relationships+xml";
const char kRelationship[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const char kMainNamespaces[] =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

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

// The runs of one paragraph; tabs and manual line breaks become their own
// run content elements, as Word writes them.
std::string Runs(const std::wstring& paragraph) {
    if (paragraph.empty()) return {};
    std::string xml = "<w:r>";
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
    return xml + "</w:r>";
}

std::string Paragraph(const std::string& properties, const std::string& runs) {
    return runs.empty() && properties.empty() ? "<w:p/>" : "<w:p>" + properties + runs + "</w:p>";
}

// One inline picture, sized from the PNG's header at 96 dpi (9525 EMU a pixel).
std::string Drawing(const std::string& png) {
    auto big32 = [&](size_t at) {
        unsigned long v = 0;
        for (size_t i = at; i < at + 4 && i < png.size(); ++i) v = v << 8 | static_cast<unsigned char>(png[i]);
        return v;
    };
    unsigned long width = png.size() >= 24 ? big32(16) : 0, height = png.size() >= 24 ? big32(20) : 0;
    if (width == 0 || width > 10000) width = 100;
    if (height == 0 || height > 10000) height = 100;
    std::string extent = "cx=\"" + std::to_string(width * 9525) + "\" cy=\"" + std::to_string(height * 9525) + "\"";
    return "<w:r><w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent " + extent +
           "/><wp:docPr id=\"1\" name=\"Picture 1\"/>"
           "<a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
           "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
           "<pic:pic xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
           "<pic:nvPicPr><pic:cNvPr id=\"0\" name=\"image1.png\"/><pic:cNvPicPr/></pic:nvPicPr>"
           "<pic:blipFill><a:blip r:embed=\"rId3\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
           "<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext " +
           extent +
           "/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic>"
           "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r>";
}

// One w:p per paragraph; the picture goes into the last one, so that the
// text reads the same with or without it.
std::string DocumentXml(const std::wstring& content, const DocumentExtras& extras) {
    std::string xml = std::string(kDeclaration) + "<w:document" + kMainNamespaces +
                      " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\"><w:body>";
    std::vector<std::wstring> paragraphs = Paragraphs(content);
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        std::string runs = Runs(paragraphs[i]);
        if (i + 1 == paragraphs.size() && !extras.image.empty()) runs += Drawing(extras.image);
        xml += Paragraph("", runs);
    }
    xml += extras.header.empty() ? "<w:sectPr/>"
                                 : "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId2\"/></w:sectPr>";
    return xml + "</w:body></w:document>";
}

std::string HeaderXml(const std::wstring& header) {
    std::string xml = std::string(kDeclaration) + "<w:hdr" + kMainNamespaces + ">";
    for (const std::wstring& paragraph : Paragraphs(ContentFromText(header)))
        xml += Paragraph("<w:pPr><w:pStyle w:val=\"Header\"/></w:pPr>", Runs(paragraph));
    return xml + "</w:hdr>";
}

const char kStylesXml[] =
    "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
    "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Calibri\" w:hAnsi=\"Calibri\"/><w:sz w:val=\"22\"/>"
    "</w:rPr></w:rPrDefault></w:docDefaults>"
    "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/><w:qFormat/></w:style>"
    "<w:style w:type=\"paragraph\" w:styleId=\"Header\"><w:name w:val=\"header\"/><w:basedOn w:val=\"Normal\"/>"
    "</w:style></w:styles>";

std::string Relationship(const char* id, const std::string& type, const char* target) {
    return std::string("<Relationship Id=\"") + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
}
std::string Relationships(const std::string& list) {
    return std::string(kDeclaration) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + list +
           "</Relationships>";
}

std::string CoreXml(const std::string& created, const std::string& modified) {
    return std::string(kDeclaration) +
           "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><dc:creator>Word stand-in</dc:creator>"
           "<dcterms:created xsi:type=\"dcterms:W3CDTF\">" + created + "</dcterms:created>"
           "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">" + modified + "</dcterms:modified></cp:coreProperties>";
}

std::string W3cdtf(const SYSTEMTIME& t) {
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return text;
}

// Word's own padding hints for parts it may grow in place.
const char* PaddingOf(const std::string& name) {
    if (name == "_rels/.rels") return "512";
    if (name.ends_with(".rels") || name == "docProps/core.xml") return "256";
    return nullptr;
}

// Word writes 76 characters a line, each ended by CRLF.
std::string Base64Lines(const std::string& bytes) {
    DWORD size = 0;
    auto data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
    std::string flat(size, '\0');
    if (size && !CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, flat.data(), &size)) return {};
    flat.resize(flat.find('\0') == std::string::npos ? flat.size() : flat.find('\0'));
    std::string out;
    for (size_t at = 0; at < flat.size(); at += 76) out += flat.substr(at, 76) + "\r\n";
    return out;
}

// A part's XML as its file holds it, without the declaration (which cannot
// nest) and the line break after it; UTF-16 for the Flat OPC string.
std::wstring XmlOfPart(const std::string& data) {
    std::wstring xml;
    if (data.starts_with("\xFF\xFE"))
        xml.assign(reinterpret_cast<const wchar_t*>(data.data() + 2), (data.size() - 2) / 2);
    else
        xml = FromUtf8(data.starts_with("\xEF\xBB\xBF") ? std::string_view(data).substr(3) : std::string_view(data));
    size_t root = xml.starts_with(L"<?xml") ? xml.find(L"?>") + 2 : 0;
    while (root < xml.size() && wcschr(L" \t\r\n", xml[root])) ++root;
    return xml.substr(root);
}

}  // namespace

bool IsXmlType(const std::string& contentType) {
    return contentType.ends_with("+xml") || contentType == "application/xml" || contentType == "text/xml";
}

const PackagePart* MainPart(const std::vector<PackagePart>& parts) {
    for (const PackagePart& part : parts)
        if (part.contentType.ends_with(".main+xml")) return &part;
    return nullptr;
}

std::wstring ContentOfParts(const std::vector<PackagePart>& parts, DocumentExtras* held) {
    const PackagePart* main = MainPart(parts);
    if (!main) throw std::runtime_error("no main part");
    for (const PackagePart& part : parts) {
        if (part.name == "word/header1.xml") held->header = JoinParagraphs(ParagraphsOfXml(part.data));
        if (part.name == "word/media/image1.png") held->image = part.data;
    }
    std::vector<std::wstring> paragraphs = ParagraphsOfXml(main->data);
    if (paragraphs.empty()) paragraphs.emplace_back();
    return JoinParagraphs(paragraphs);
}

std::vector<PackagePart> PackageParts(const std::wstring& content, const DocumentExtras& extras,
                                      const std::string& modified) {
    static const std::string created = [] {
        SYSTEMTIME now;
        GetSystemTime(&now);
        return W3cdtf(now);
    }();
    std::string rels = Relationship("rId1", std::string(kRelationship) + "styles", "styles.xml");
    if (!extras.header.empty()) rels += Relationship("rId2", std::string(kRelationship) + "header", "header1.xml");
    if (!extras.image.empty()) rels += Relationship("rId3", std::string(kRelationship) + "image", "media/image1.png");

    std::vector<PackagePart> parts = {
        {"_rels/.rels", kRelationshipsType,
         Relationships(Relationship("rId1", std::string(kRelationship) + "officeDocument", "word/document.xml") +
                       Relationship("rId2",
                                    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
                                    "core-properties",
                                    "docProps/core.xml"))},
        {"word/document.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
         DocumentXml(content, extras)},
        {"word/_rels/document.xml.rels", kRelationshipsType, Relationships(rels)},
    };
    if (!extras.header.empty())
        parts.push_back({"word/header1.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml",
                         HeaderXml(extras.header)});
    if (!extras.image.empty()) parts.push_back({"word/media/image1.png", "image/png", extras.image, true});
    parts.push_back({"word/styles.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml",
                     kDeclaration + std::string(kStylesXml)});
    parts.push_back({"docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml",
                     CoreXml(created, modified)});
    return parts;
}

std::string ContentTypesXml(const std::vector<PackagePart>& parts) {
    std::string xml = std::string(kDeclaration) +
                      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                      "<Default Extension=\"rels\" ContentType=\"" + kRelationshipsType + "\"/>"
                      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    std::vector<std::string> extensions = {"rels", "xml"};
    for (const PackagePart& part : parts) {
        const std::string extension = part.name.substr(part.name.rfind('.') + 1);
        if (!part.binary || std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) continue;
        extensions.push_back(extension);
        xml += "<Default Extension=\"" + extension + "\" ContentType=\"" + part.contentType + "\"/>";
    }
    for (const PackagePart& part : parts)
        if (!part.binary && !part.name.ends_with(".rels") && part.contentType != "application/xml")
            xml += "<Override PartName=\"/" + part.name + "\" ContentType=\"" + part.contentType + "\"/>";
    return xml + "</Types>";
}

std::wstring FlatOpc(const std::vector<PackagePart>& parts) {
    std::wstring xml =
        L"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<?mso-application progid=\"Word.Document\"?>\r\n"
        L"<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\">";
    for (const PackagePart& part : parts) {
        std::string head = "<pkg:part pkg:name=\"/" + part.name + "\" pkg:contentType=\"" + part.contentType + "\"";
        if (const char* padding = PaddingOf(part.name)) head += std::string(" pkg:padding=\"") + padding + "\"";
        if (part.binary) {
            if (part.name.find("/media/") != std::string::npos) head += " pkg:compression=\"store\"";
            xml += FromUtf8(head + "><pkg:binaryData>" + Base64Lines(part.data) + "</pkg:binaryData></pkg:part>");
        } else {
            xml += FromUtf8(head + "><pkg:xmlData>") + XmlOfPart(part.data) + L"</pkg:xmlData></pkg:part>";
        }
    }
    return xml + L"</pkg:package>";
}

std::string ModifiedNow() {
    static ULONGLONG last = 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000000 * 10000000;
    if (ticks <= last) ticks = last + 10000000;  // W3CDTF here counts whole seconds
    last = ticks;
    FILETIME rounded{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc;
    FileTimeToSystemTime(&rounded, &utc);
    return W3cdtf(utc);
}

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

std::vector<std::wstring> ParagraphsOfXml(std::string_view xml) {
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
    return paragraphs;
}
