// Which documents count as closed with unsaved changes, run after run.
#include "engine/ClosedUnsaved.h"

#include <gtest/gtest.h>

namespace {

const WordProcess kWord{100, 1}, kOtherWord{200, 2};
const SYSTEMTIME kAt10{2026, 12, 2, 8, 10, 42, 0, 0}, kAt11{2026, 12, 2, 8, 11, 0, 0, 0};

std::vector<std::wstring> Names(const std::vector<ClosedDocument>& closed) {
    std::vector<std::wstring> names;
    for (const auto& document : closed) names.push_back(document.name);
    return names;
}

}  // namespace

TEST(ClosedUnsavedWatch, TellsOnceOfUnsavedWorkThatWasBackedUpAndIsGone) {
    ClosedUnsavedWatch watch;
    watch.seen(L"N|Document1|100", L"Document1", kWord, true, L"C:\\B\\Document1 10.docx", kAt10);
    watch.seen(L"F|C:\\SAVED.DOCX", L"Saved.docx", kWord, false, L"C:\\B\\Saved 10.docx", kAt10);
    watch.seen(L"N|Document2|100", L"Document2", kWord, true, L"", kAt10);  // never backed up
    watch.seen(L"F|C:\\REPORT.DOCX", L"Report.docx", kOtherWord, true, L"C:\\B\\Report 10.docx", kAt10);
    EXPECT_TRUE(watch.runEnded().empty());

    // Skipped as unchanged: its backup of 10:42 is still its newest.
    watch.seen(L"N|Document1|100", L"Document1", kWord, true, L"", kAt11);
    watch.notSeenThrough(kOtherWord);  // busy: its documents are not taken for closed
    EXPECT_TRUE(watch.runEnded().empty());

    const std::vector<ClosedDocument> closed = watch.runEnded();
    ASSERT_EQ(Names(closed), (std::vector<std::wstring>{L"Report.docx", L"Document1"}));
    EXPECT_EQ(closed[1].backupPath, L"C:\\B\\Document1 10.docx");
    EXPECT_EQ(closed[1].backupTime.wMinute, 42);
    EXPECT_TRUE(watch.runEnded().empty()) << "once per closing";
}

TEST(ClosedUnsavedWatch, SavedUnderANewNameIsNotClosedButWordGoneIs) {
    ClosedUnsavedWatch watch;
    watch.seen(L"N|Document1|100", L"Document1", kWord, true, L"C:\\B\\Document1.docx", kAt10);
    watch.seen(L"N|Document2|100", L"Document2", kWord, true, L"C:\\B\\Document2.docx", kAt10);
    watch.runEnded();
    // One was saved as Letter.docx, the other closed unsaved: one balloon.
    watch.seen(L"F|C:\\LETTER.DOCX", L"Letter.docx", kWord, false, L"C:\\B\\Letter.docx", kAt11);
    EXPECT_EQ(watch.runEnded().size(), 1u);

    watch.seen(L"N|Document3|100", L"Document3", kWord, true, L"C:\\B\\Document3.docx", kAt11);
    watch.seen(L"F|C:\\LETTER.DOCX", L"Letter.docx", kWord, true, L"C:\\B\\Letter 2.docx", kAt11);
    watch.runEnded();
    EXPECT_EQ(Names(watch.wordGone()), (std::vector<std::wstring>{L"Letter.docx", L"Document3"}));
    EXPECT_TRUE(watch.wordGone().empty());
}
