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
    bool stored = false;  // kept uncompressed in the package (pkg:compression="store")
};

// The parts of a Flat OPC string, in its order.  An xmlData part is its text
// exactly as it stands, in UTF-8 behind a declaration of its own, with the
// declarations of the namespaces it uses from the package around it added to
// its root element; a binaryData part is decoded from base64.  Throws
// Failure (kPackageUnreadable, then what is wrong) for anything but a
// well-formed package with at least one part.
std::vector<PackagePart> ReadFlatOpc(std::wstring_view flatOpc);

// [Content_Types].xml for parts: a Default per extension on whose content
// type every part with it agrees, an Override for each other part.
std::string ContentTypesXml(const std::vector<PackagePart>& parts);

// The extension Word gives a file of this package, from its main part's
// content type: ".docm" for a macro-enabled document, ".dotx" and ".dotm"
// for templates, else ".docx".  Word refuses to open a macro-enabled
// document under any other extension.
std::wstring PackageExtension(const std::vector<PackagePart>& parts);

struct DocxPackage {
    std::string bytes;  // the whole .docx; its size is what the free-space check needs
    std::wstring extension;  // PackageExtension's
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
