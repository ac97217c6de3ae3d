#pragma once
// The text of a .docx, read by the tests' own ZIP and XML reader (not the
// stand-in's code): one string per w:p; w:tab gives "\t", w:br gives "\v".
// Stored entries only, CRC-32 checked; throws Failure on anything else.
#include <string>
#include <vector>

std::vector<std::wstring> ReadDocxParagraphs(const std::wstring& path);
// The paragraphs joined with "\n": what a text file with those lines holds.
std::wstring ReadDocxText(const std::wstring& path);
