#pragma once
// The Word 2007+ package that SaveAs writes: the parts of Package.h in a ZIP
// of stored entries.  Enough for any word processor to open it and for tests
// to read its text, header and picture back.
#include "Package.h"

#include <string>
#include <string_view>

// The package bytes for a content (paragraphs separated by "\r").
std::string DocxBytes(const std::wstring& content, const DocumentExtras& extras = {});
// Writes the package; a failure carries Word's kind of description.
void WriteDocx(const std::wstring& path, const std::wstring& content, const DocumentExtras& extras = {});

bool LooksLikeZip(std::string_view bytes);
// The content and extras of a package that DocxBytes made (stored entries
// only); throws std::runtime_error for anything else.
std::wstring ContentOfDocx(std::string_view bytes, DocumentExtras* extras = nullptr);
