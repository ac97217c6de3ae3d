#pragma once
// What changed from one text to the next, word by word: paragraphs matched
// first, then words within each pair of changed paragraphs, both with
// Myers' O(ND) difference algorithm.  Past maxEdits differences in one
// sequence the rest of it counts as replaced: time and memory stay bounded
// (O((N + M) D) and O(D^2)), never a table over the whole document.
#include <cstdint>
#include <string_view>
#include <vector>

enum class DiffKind : std::uint8_t { Same, Deleted, Added };

// The shortest edit script from a to b: a run per kind, in order.
struct DiffRun {
    DiffKind kind;
    std::uint32_t count;
};
std::vector<DiffRun> MyersDiff(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b,
                               int maxEdits = 4000);

// A piece of the merged text: words of before, after or both, each word
// with the white space after it.  Views into the texts diffed.
struct DiffSpan {
    DiffKind kind;
    std::wstring_view text;
};
using DiffParagraph = std::vector<DiffSpan>;

// before and after, paragraph by paragraph, merged: what both hold, what
// only before holds (deleted since) and what only after holds (added),
// each paragraph's pieces in reading order.
std::vector<DiffParagraph> DiffParagraphs(const std::vector<std::wstring_view>& before,
                                          const std::vector<std::wstring_view>& after);

// The paragraphs of a text whose paragraphs end in '\n' (or '\r', as
// Word's Range.Text gives them).
std::vector<std::wstring_view> SplitParagraphs(std::wstring_view text);
