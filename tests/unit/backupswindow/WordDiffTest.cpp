// The difference algorithm against a brute-force longest common subsequence:
// its script turns a into b and is as short as a script can be.
#include "backupswindow/WordDiff.h"

#include <gtest/gtest.h>

#include <random>

namespace {

size_t CommonLength(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b) {
    std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
    return t[0][0];
}

}  // namespace

TEST(MyersDiff, GivesAShortestScriptThatTurnsOneSequenceIntoTheOther) {
    std::mt19937 random(30);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::uint64_t> a(random() % 14), b(random() % 14);
        for (auto& x : a) x = random() % 4;
        for (auto& x : b) x = random() % 4;
        std::vector<std::uint64_t> made;
        size_t i = 0, j = 0, edits = 0;
        for (const DiffRun& run : MyersDiff(a, b)) {
            for (std::uint64_t c = 0; c < run.count; ++c) {
                if (run.kind == DiffKind::Same) {
                    ASSERT_EQ(a[i], b[j]);
                }
                if (run.kind != DiffKind::Added) ++i;
                if (run.kind != DiffKind::Deleted) made.push_back(b[j++]);
                if (run.kind != DiffKind::Same) ++edits;
            }
        }
        EXPECT_EQ(i, a.size());
        EXPECT_EQ(made, b);
        EXPECT_EQ(edits, a.size() + b.size() - 2 * CommonLength(a, b));
    }
    // Past the bound the rest counts as replaced, and still turns a into b.
    const std::vector<DiffRun> capped = MyersDiff({1, 2, 3, 4, 5}, {6, 7, 8, 9, 5}, 2);
    EXPECT_EQ(capped.size(), 3u);
    EXPECT_EQ(capped[0].kind, DiffKind::Deleted);
}

TEST(DiffParagraphs, PairsChangedParagraphsAndMarksTheirWords) {
    const std::vector<std::wstring_view> before = {L"Kept as it was", L"The first draft", L"Stays too"};
    const std::vector<std::wstring_view> after = {L"Kept as it was", L"The final  draft", L"Stays too",
                                                  L"Added at the end"};
    const std::vector<DiffParagraph> merged = DiffParagraphs(before, after);
    ASSERT_EQ(merged.size(), 4u);
    ASSERT_EQ(merged[1].size(), 4u);
    EXPECT_EQ(merged[1][1].kind, DiffKind::Deleted);
    EXPECT_EQ(merged[1][1].text, L"first ");
    EXPECT_EQ(merged[1][2].kind, DiffKind::Added);
    EXPECT_EQ(merged[1][2].text, L"final  ");
    EXPECT_EQ(merged[3][0].kind, DiffKind::Added);

    // A sentence added or deleted after the last word keeps the space
    // before it: the preview never runs two words together.
    const std::wstring_view shorter = L"She unpacked the letters first.";
    const std::wstring_view longer = L"She unpacked the letters first. There were ten.";
    for (const auto& [older, newer] : {std::pair{shorter, longer}, std::pair{longer, shorter}}) {
        const std::vector<DiffParagraph> diff = DiffParagraphs({older}, {newer});
        std::wstring shown;
        for (const DiffSpan& span : diff.at(0)) shown += span.text;
        EXPECT_EQ(shown, longer);
    }
}
