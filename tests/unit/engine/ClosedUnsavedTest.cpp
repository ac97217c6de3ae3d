// Which documents count as closed with unsaved changes, run after run.
#include "engine/ClosedUnsaved.h"
#include "engine/WordInstances.h"

#include <gtest/gtest.h>

namespace {

const WordProcess kWord{100, 1}, kOtherWord{200, 2};
const SYSTEMTIME kAt10{2026, 12, 2, 8, 10, 42, 0, 0}, kAt11{2026, 12, 2, 8, 11, 0, 0, 0};

struct Seen {
    const wchar_t* fullName;  // a never-saved document's name, or a path
    WordProcess word;
    bool unsaved;
    const wchar_t* backup;  // written now, or empty
};

std::vector<std::wstring> OneRun(ClosedUnsavedWatch& watch, std::initializer_list<Seen> documents,
                              std::initializer_list<WordProcess> busy = {}) {
    watch.runStarted();
    for (const Seen& d : documents) {
        const OpenDocument document = ResolveOpenDocument({}, {}, d.fullName, d.word);
        watch.seen(document, d.unsaved);
        if (*d.backup) watch.backedUp(document.identity.key(), d.backup, *d.backup == L'1' ? kAt11 : kAt10);
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
    EXPECT_EQ(OneRun(watch, {{L"Document1", kWord, true, L"0 Document1"},
                          {L"C:\\Saved.docx", kWord, false, L"0 Saved"},
                          {L"Document2", kWord, true, L""},  // never backed up
                          {L"C:\\Report.docx", kOtherWord, true, L"0 Report"}}),
              Closed{});
    // Skipped as unchanged: its backup of 10:42 is still its newest.  The
    // other Word stayed busy: its documents are not taken for closed.
    EXPECT_EQ(OneRun(watch, {{L"Document1", kWord, true, L""}}, {kOtherWord}), Closed{});
    EXPECT_EQ(OneRun(watch, {}), (Closed{L"Report.docx 0 Report 42", L"Document1 0 Document1 42"}));
}

TEST(ClosedUnsavedWatch, SavedUnderANewNameInTheSameWordIsNotClosed) {
    ClosedUnsavedWatch watch;
    OneRun(watch, {{L"Document1", kWord, true, L"0 D1"}, {L"Document2", kWord, true, L"0 D2"},
                   {L"Q3/Q4 plan", kWord, true, L"0 Q"}});
    // Two were saved under a name, one typed in since; the third closed
    // unsaved: one balloon.
    EXPECT_EQ(OneRun(watch, {{L"C:\\Letter.docx", kWord, false, L"1 Letter"},
                             {L"C:\\Typed.docx", kWord, true, L"1 Typed"}}).size(), 1u);
    // A saved document new in another Word saves nothing of this one.
    OneRun(watch, {{L"C:\\Letter.docx", kWord, true, L"1 Letter"}, {L"Document3", kWord, true, L"1 D3"}});
    EXPECT_EQ(OneRun(watch, {{L"C:\\Letter.docx", kWord, true, L""}, {L"C:\\New.docx", kOtherWord, false, L"1 New"}}),
              Closed{L"Document3 1 D3 0"});
}

// A Word that is still running but was not found (busy past the bound, a
// dialog open, a window that does not answer) keeps its documents, even
// when no Word was found at all; a document on the web without a synced
// copy cannot show that it was saved.
TEST(ClosedUnsavedWatch, AWordNotGoneThroughKeepsItsDocumentsAndTheWebTellsNothing) {
    ClosedUnsavedWatch watch;
    const WordProcess running = ProcessOf(GetCurrentProcessId());
    OneRun(watch, {{L"Document1", running, true, L"0 D1"}, {L"https://contoso.com/Docs/Web.docx", kWord, true, L"0 W"}});
    EXPECT_EQ(OneRun(watch, {}), Closed{});
    EXPECT_TRUE(watch.wordGone().empty());
    watch.runStarted();
    watch.seenThrough(running);
    const std::vector<ClosedDocument> closed = watch.runEnded();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].name + L" " + closed[0].backupPath, L"Document1 0 D1");
}
