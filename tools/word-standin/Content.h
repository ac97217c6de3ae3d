#pragma once
// A document's content is its text with Word's paragraph mark "\r" between
// paragraphs.  Like Word, every document also ends in a final paragraph
// mark that cannot be removed; it is not stored, but Range.Text and Copy
// show it.
#include <string>
#include <string_view>
#include <vector>

// A text file given on the command line: UTF-8 (a BOM is dropped), any line
// break style; the line break that ends the last line is not a paragraph.
std::wstring ContentFromFile(std::string_view bytes);

// Text that arrives by Paste or Range.Text: "\r\n", "\n" and "\r" all end a
// paragraph.  When the whole content is replaced, one trailing break merges
// with the final paragraph mark, so Copy then Paste gives the same content.
std::wstring ContentFromText(std::wstring_view text);

// Range.Text of the whole document: the content and its final mark.
std::wstring RangeText(const std::wstring& content);
// What Copy of the whole document puts on the clipboard as text: Windows
// line breaks, the final paragraph mark included.
std::wstring ClipboardText(const std::wstring& content);

std::vector<std::wstring> Paragraphs(const std::wstring& content);
std::wstring JoinParagraphs(const std::vector<std::wstring>& paragraphs);

// Rich Text Format of the content, pure ASCII with \uN escapes.
std::string RtfOf(const std::wstring& content);
// The plain text of RTF (ours or another program's): paragraphs end in "\r".
std::wstring TextOfRtf(std::string_view rtf);
