// Which documents count as closed with unsaved changes, run after run.
#include "engine/ClosedUnsaved.h"

#include <gtest/gtest.h>

namespace {

const WordProcess kWord{100, 1}, kOtherWord{200, 2};
const SYSTEMTIME kAt10{2026, 12, 2, 8, 10, 42, 0, 0}, kAt11{2026, 12, 2, 8, 11, 0, 0, 0};

struct Seen {
    const wchar_t* identity;
    const wchar_t* name;
    WordProcess word;
    bool unsaved;
    const wchar_t* backup;  // written now, or empty
};

std::vector<std::wstring> OneRun(ClosedUnsavedWatch& watch, std::initializer_list<Seen> documents,
                              std::initializer_list<WordProcess> busy = {}) {
    watch.runStarted();
    for (const Seen& d : documents) {
        watch.seen(d.identity, d.name, d.word, d.unsaved, L"");
        if (*d.backup) watch.backedUp(d.identity, d.backup, *d.backup == L'1' ? kAt11 : kAt10);
    }
    for (const WordProcess& word : busy) watch.notSeenThrough(word);
    std::vector<std::wstring> closed;
    for (const ClosedDocument& document : watch.runEnded())
        closed.push_back(document.name + L" " + document.backupPath + L" " +
                         std::to_wstring(document.backupTime.wMinute));
    return closed;
}

using Closed = std::vector<std::wstring>;

}  // namespace

TEST(ClosedUnsavedWatch, TellsOnceOfUnsavedWorkThatWasBackedUpAndIsGone) {
    ClosedUnsavedWatch watch;
    EXPECT_EQ(OneRun(watch, {{L"N|Document1|100", L"Document1", kWord, true, L"0 Document1"},
                          {L"F|C:\\SAVED.DOCX", L"Saved.docx", kWord, false, L"0 Saved"},
                          {L"N|Document2|100", L"Document2", kWord, true, L""},  // never backed up
                          {L"F|C:\\REPORT.DOCX", L"Report.docx", kOtherWord, true, L"0 Report"}}),
              Closed{});
    // Skipped as unchanged: its backup of 10:42 is still its newest.  The
    // other Word stayed busy: its documents are not taken for closed.
    EXPECT_EQ(OneRun(watch, {{L"N|Document1|100", L"Document1", kWord, true, L""}}, {kOtherWord}), Closed{});
    EXPECT_EQ(OneRun(watch, {}), (Closed{L"Report.docx 0 Report 42", L"Document1 0 Document1 42"}));
}

TEST(ClosedUnsavedWatch, SavedUnderANewNameInTheSameWordIsNotClosed) {
    ClosedUnsavedWatch watch;
    OneRun(watch, {{L"N|Document1|100", L"Document1", kWord, true, L"0 D1"},
                {L"N|Document2|100", L"Document2", kWord, true, L"0 D2"}});
    // One was saved as Letter.docx, the other closed unsaved: one balloon.
    EXPECT_EQ(OneRun(watch, {{L"F|C:\\LETTER.DOCX", L"Letter.docx", kWord, false, L"1 Letter"}}).size(), 1u);
    // A saved document new in another Word saves nothing of this one.
    OneRun(watch, {{L"F|C:\\LETTER.DOCX", L"Letter.docx", kWord, true, L"1 Letter"},
                {L"N|Document3|100", L"Document3", kWord, true, L"1 D3"}});
    EXPECT_EQ(OneRun(watch, {{L"F|C:\\LETTER.DOCX", L"Letter.docx", kWord, true, L""},
                          {L"F|C:\\NEW.DOCX", L"New.docx", kOtherWord, false, L"1 New"}}),
              Closed{L"Document3 1 D3 0"});
}
