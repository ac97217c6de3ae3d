#pragma once
// The form in which backups are searched: case and accents ignored with
// Windows' own tables (compatibility decomposition, nonspacing marks
// dropped, upper then lower case: "Ä", "ä" and "a" meet, so do "Σ", "σ"
// and "ς"), and every run of white space (tabs, line breaks, paragraph
// ends) one space, so that a sentence split across runs, lines or
// formatting is found as it reads.
//
// Not FindNLSStringEx: measured under Wine 8 it takes more than 28 us per
// character of text (a 50,000-word backup would take seconds), so a text is
// folded once, kept, and searched ordinally.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TextFold {
public:
    TextFold();
    ~TextFold();
    TextFold(const TextFold&) = delete;
    TextFold& operator=(const TextFold&) = delete;

    // The folded text; origins, when given, gets for each of its characters
    // the index in text it came from.  Safe to call from several threads.
    std::wstring fold(std::wstring_view text, std::vector<std::uint32_t>* origins = nullptr) const;
    // What is searched for: folded, without leading and trailing space.
    std::wstring query(std::wstring_view words) const;

private:
    struct Table;
    std::unique_ptr<Table> table_;
};

// Where query (TextFold::query's) starts in folded, from 'from' on; npos if nowhere.
size_t FindFolded(std::wstring_view folded, std::wstring_view query, size_t from = 0);
