#pragma once
// The Word 2007+ package as a file: the parts of Package.h in a ZIP of
// stored entries when the stand-in writes one, and any .docx, .docm, .dotx
// or .dotm (stored or deflated) when it reads one.
#include "Package.h"

#include <string>
#include <string_view>
#include <vector>

// [Content_Types].xml and the parts, in their order.
std::string ZipOfParts(const std::vector<PackagePart>& parts);
// Writes the package; a failure carries Word's kind of description.
void WriteDocx(const std::wstring& path, const std::vector<PackagePart>& parts);

bool LooksLikeZip(std::string_view bytes);
// The parts of a package file, in its order, each with the content type
// that [Content_Types].xml gives it; throws std::runtime_error for anything
// that is not a package.
std::vector<PackagePart> ReadDocxParts(std::string_view bytes);
