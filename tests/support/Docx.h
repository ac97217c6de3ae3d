#pragma once
// The text of a .docx, read by the tests' own ZIP and XML reader (not the
// stand-in's code): one string per w:p; w:tab gives "\t", w:br gives "\v".
// Stored or deflated entries, CRC-32 checked; throws Failure on anything else.
#include <string>
#include <vector>

// The bytes of one part ("word/media/image1.png").
std::string ReadDocxPart(const std::wstring& path, const std::string& part);
// The paragraphs of the document, or of another part ("word/header1.xml").
std::vector<std::wstring> ReadDocxParagraphs(const std::wstring& path, const std::string& part = "word/document.xml");
// The paragraphs joined with "\n": what a text file with those lines holds.
std::wstring ReadDocxText(const std::wstring& path);

// A part of a package file a test makes, as Word saves it.
struct PackageFilePart {
    std::string name;  // "word/document.xml"
    std::string contentType;
    std::string bytes;
};
// The package file: [Content_Types].xml with an Override per part, then the
// parts, deflated as Word does.
void WritePackageFile(const std::wstring& path, const std::vector<PackageFilePart>& parts);
// A document as Word saves it: one paragraph of text (UTF-8, XML-escaped
// already), and a picture's bytes when given.
void WriteWordPackage(const std::wstring& path, const std::string& text, const std::string& picture = {});
