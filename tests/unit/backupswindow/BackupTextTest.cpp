// A part's text is read as it is inflated, 64 KB at a time: whatever a
// piece's end cuts (a tag, a reference, a comment) reads as it does whole.
#include "backupswindow/BackupText.h"
#include "common/Zip.h"

#include <gtest/gtest.h>

TEST(BackupText, APartReadInPiecesReadsAsItDoesWhole) {
    const std::string sample =
        "x&amp;y&#x41F;</w:t><w:tab/><!-- a note --><w:t xml:space=\"preserve\">z &lt;</w:t></w:r></w:p>";
    const std::string head = "<w:document><w:body><w:p><w:r><w:t>";
    for (size_t shift = 0; shift <= sample.size(); ++shift) {
        const std::string xml = head + std::string(65536 - head.size() - shift, 'a') + sample + "</w:body></w:document>";
        ZipWriter zip;
        zip.add("_rels/.rels", "<Relationships><Relationship Type=\"http://schemas.openxmlformats.org/officeDocument/"
                               "2006/relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>");
        zip.add("word/document.xml", xml);
        const std::wstring text = BackupTexts().fromPackage(zip.finish())->parts.at(0)->text;
        ASSERT_EQ(text, WordprocessingText(xml)) << shift;
        ASSERT_TRUE(text.ends_with(L"x&y\u041f\tz <")) << shift;
    }
}
