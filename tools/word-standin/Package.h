#pragma once
// The parts of a document's Word 2007+ package: those of a package file the
// user opened, or those the stand-in writes for a document of its own; what
// SaveAs zips into a .docx and WordOpenXML hands out as one Flat OPC string.
#include <string>
#include <string_view>
#include <vector>

// What a document holds beside its text: the classic Copy and Paste carry
// neither, the package does.
struct DocumentExtras {
    std::wstring header;  // text of the default header; empty: no header part
    std::string image;    // bytes of one PNG picture at the end of the body; empty: none
};

struct PackagePart {
    std::string name;  // without the leading slash: "word/document.xml"
    std::string contentType;
    std::string data;  // XML with its declaration, or the bytes of a binary part
    bool binary = false;
};

// Every part but [Content_Types].xml, in the order Word lists them;
// docProps/core.xml carries `modified` (W3CDTF, UTC).
std::vector<PackagePart> PackageParts(const std::wstring& content, const DocumentExtras& extras,
                                      const std::string& modified);
// [Content_Types].xml for parts.
std::string ContentTypesXml(const std::vector<PackagePart>& parts);
// The package as Word's WordOpenXML answers it: the declaration and the
// mso-application instruction each ended by CRLF, pkg:padding on
// relationship parts and core.xml, pictures stored, base64 in 76-character
// CRLF lines, each XML part's text as its file holds it without its
// declaration.
std::wstring FlatOpc(const std::vector<PackagePart>& parts);

// Whether parts of this content type are XML (pkg:xmlData), not bytes.
bool IsXmlType(const std::string& contentType);
// The document's main part (document, macro-enabled document or template),
// or null.
const PackagePart* MainPart(const std::vector<PackagePart>& parts);
// The content of the main part's paragraphs; held gets the header and the
// picture of a package the stand-in wrote.  Throws std::runtime_error
// without a main part.
std::wstring ContentOfParts(const std::vector<PackagePart>& parts, DocumentExtras* held);

// Now in W3CDTF; later than every earlier answer of this process, as Word's
// document properties change at every read of the package.
std::string ModifiedNow();

// The paragraphs of a part's w:p elements: w:t text, w:tab and w:br.
std::vector<std::wstring> ParagraphsOfXml(std::string_view xml);
