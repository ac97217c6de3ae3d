#pragma once
// The parts of the Word 2007+ package that the stand-in writes for a
// document: what SaveAs zips into a .docx and WordOpenXML hands out as one
// Flat OPC string.
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
// [Content_Types].xml for those parts.
std::string ContentTypesXml(const std::vector<PackagePart>& parts);
// The package as Word's WordOpenXML answers it.
std::wstring FlatOpc(const std::vector<PackagePart>& parts);

// Now in W3CDTF; later than every earlier answer of this process, as Word's
// document properties change at every read of the package.
std::string ModifiedNow();

// The paragraphs of a part's w:p elements: w:t text, w:tab and w:br.
std::vector<std::wstring> ParagraphsOfXml(std::string_view xml);
