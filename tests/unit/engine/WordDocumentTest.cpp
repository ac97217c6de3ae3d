// One identity rule for every FullName Word gives.
#include "engine/WordDocument.h"

#include <gtest/gtest.h>

TEST(OpenDocument, EveryFullNameResolvesByOneRule) {
    const WordProcess word{100, 1};
    const struct {
        const wchar_t *fullName, *path, *name;
        bool neverSaved, onTheWeb;
    } cases[] = {
        {L"C:\\Docs\\Report.docx", L"C:\\Docs", L"Report.docx", false, false},
        {L"C:\\Report.docx", L"C:\\", L"Report.docx", false, false},
        {L"\\\\server\\share\\Report.docx", L"\\\\server\\share", L"Report.docx", false, false},
        {L"https://d.docs.live.net/1a2b/Docs/Report.docx", L"https://d.docs.live.net/1a2b/Docs", L"Report.docx", false, true},
        {L"Document1", L"", L"Document1", true, false},
        {L"Q3/Q4 plan", L"", L"Q3/Q4 plan", true, false},
        {L"see http://x", L"", L"see http://x", true, false},
    };
    for (const auto& c : cases) {
        const OpenDocument d = ResolveOpenDocument({}, {}, c.fullName, word);
        EXPECT_EQ(d.path + L"|" + d.name, std::wstring(c.path) + L"|" + c.name) << c.fullName;
        EXPECT_EQ(d.neverSaved(), c.neverSaved) << c.fullName;
        EXPECT_EQ(d.onTheWeb, c.onTheWeb) << c.fullName;
        EXPECT_EQ(d.identity.name, c.fullName);
        EXPECT_EQ(d.identity.process, c.neverSaved ? word : WordProcess{});
    }
    // Case never makes two documents; a process always does for a never-saved one.
    EXPECT_EQ(IdentityOf(L"c:\\docs\\REPORT.docx", {}).key(), IdentityOf(L"C:\\Docs\\report.docx", word).key());
    EXPECT_NE(IdentityOf(L"Document1", word).key(), IdentityOf(L"Document1", {200, 2}).key());
}
