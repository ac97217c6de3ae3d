// The Backups window on a run's backups, against the stand-in.
#include "../engine/SaveAllFixture.h"

#include "engine/SaveWord.h"
#include "mainwindow/BackupsWindow.h"
#include "support/Files.h"

#include <algorithm>

namespace {

std::wstring Escaped(std::wstring path) {  // as the call log writes a text
    for (size_t at = 0; (at = path.find(L'\\', at)) != std::wstring::npos; at += 2) path.insert(at, L"\\");
    return path;
}

}  // namespace

TEST_F(SaveAllRun, TheBackupsWindowListsARunsBackupsAndOpensAndComparesCopies) {
    const std::wstring user = doc(L"Report.txt", L"Hello");
    auto word = StandIn::StartUserWord({user});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::wstring backup = backups + L"\\" + stamped(L"Report.txt");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(backup.c_str(), GetFileExInfoStandard, &data));

    BackupsWindow window(settings.history);
    window.Show();
    ASSERT_EQ(window.documentRows(), 1);
    EXPECT_EQ(window.selectedDocumentRow(), 0);  // the document active in Word
    EXPECT_EQ(window.documentText(0, 0), L"Report.txt");
    ASSERT_EQ(window.backupRows(), 1);
    // The file's own time (the name's stamp is the test clock's), and its size.
    FILETIME localFile;
    SYSTEMTIME written;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &localFile);
    FileTimeToSystemTime(&localFile, &written);
    EXPECT_EQ(window.backupText(0, 0), GeneralDate(written) + L" (just now)");
    EXPECT_EQ(window.backupText(0, 1), backups::SizeText(data.nFileSizeLow));

    const std::string backupBytes = ReadFileBytes(backup), userBytes = ReadFileBytes(user);
    window.OpenCopy();
    window.OpenCopy();  // the first copy's name is taken now
    const std::wstring copy = backups + L"\\Report (recovered 2026-12-07 13-05).docx";
    const std::wstring second = backups + L"\\Report (recovered 2026-12-07 13-05) (2).docx";
    EXPECT_EQ(ReadFileBytes(copy), backupBytes);
    EXPECT_EQ(ReadFileBytes(second), backupBytes);
    window.Compare();
    const std::wstring third = backups + L"\\Report (recovered 2026-12-07 13-05) (3).docx";
    EXPECT_EQ(ReadFileBytes(backup), backupBytes);
    EXPECT_EQ(ReadFileBytes(user), userBytes);
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? L"" : reports[0]).c_str();

    std::vector<std::wstring> seen;
    for (const auto& call : session.calls())
        if (call.role == L"user" && (call.member == L"Documents.Open" || call.member == L"Application.CompareDocuments"))
            seen.push_back(call.member + L" " + call.args);
    EXPECT_EQ(seen, (std::vector<std::wstring>{
                        L"Documents.Open FileName:=String \"" + Escaped(copy) + L"\"",
                        L"Documents.Open FileName:=String \"" + Escaped(second) + L"\"",
                        L"Documents.Open FileName:=String \"" + Escaped(third) + L"\"",
                        L"Application.CompareDocuments OriginalDocument:=Object \"" + Escaped(third) +
                            L"\", RevisedDocument:=Object \"" + Escaped(user) + L"\""}));
}
