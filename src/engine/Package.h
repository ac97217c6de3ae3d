#pragma once
// A document's package as Word 2007 and later give it (Document.WordOpenXML:
// Flat OPC, one XML string) turned into the .docx file that Word would save.
#include "engine/Housekeeping.h"

#include <string>
#include <string_view>
#include <vector>

// One part of a package: its name without the leading slash (the ZIP entry's
// name), its content type, and its bytes as the .docx holds them.
struct PackagePart {
    std::wstring name;
    std::wstring contentType;
    std::string bytes;
};

// The parts of a Flat OPC string, in its order.  An xmlData part becomes a
// standalone UTF-8 XML document with its declaration, carrying the namespace
// declarations it needs from the package around it; a binaryData part is
// decoded from base64.  Throws Failure (kPackageUnreadable, then what is
// wrong) for anything but a well-formed package with at least one part.
std::vector<PackagePart> ReadFlatOpc(std::wstring_view flatOpc);

// [Content_Types].xml for parts: a Default per extension on whose content
// type every part with it agrees, an Override for each other part.
std::string ContentTypesXml(const std::vector<PackagePart>& parts);

struct DocxPackage {
    std::string bytes;  // the whole .docx; its size is what the free-space check needs
    // For skipping unchanged documents: the parts' names and bytes, without
    // the core and extended properties (Word stamps their times at every
    // read); .bytes counts the parts' bytes that went in.
    ContentFingerprint fingerprint;
};

// The .docx of a Flat OPC string: [Content_Types].xml first, then the parts
// in their order, all deflated.  Throws Failure as ReadFlatOpc does, and
// with kZipTooLarge for a package past 4 GB.
DocxPackage DocxFromFlatOpc(std::wstring_view flatOpc);

// The start of every failure text of an unreadable package.
extern const wchar_t kPackageUnreadable[];
