// The backups catalogue on planted history lines and files.
#include "common/Text.h"
#include "backupswindow/BackupCatalogue.h"
#include "backupswindow/BackupText.h"
#include "common/Failure.h"
#include "engine/BackupJournal.h"
#include "support/Docx.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

const std::wstring kStamp = L" Date Dec 7 2026 Time 01 05 09 PM";

struct Planted {
    std::wstring folder, name;
    std::wstring document;  // the name its history line gives; none without a line
};

}  // namespace

TEST(BackupCatalogue, ListsBackupNamesOfTheirDocumentsInTheFoldersOfLinesAndRememberedFolders) {
    ScratchFolder scratch;
    const std::wstring fixed = scratch.file(L"Fixed"), a = scratch.file(L"A"), b = scratch.file(L"B"),
                       unnamed = scratch.file(L"Unnamed"), japan = scratch.file(L"\u65e5\u672c");
    // The history spells this folder lossily: only the remembered list finds it.
    ASSERT_NE(FromAnsi(ToAnsi(japan)), japan);
    for (const auto& folder : {fixed, a, b, unnamed, japan}) CreateDirectoryW(folder.c_str(), nullptr);
    const Planted files[] = {
        {fixed, L"Report.docx" + kStamp + L".docx", L"Report.docx"},
        {fixed, L"Report.docx Date Dec 6 2026 Time 11 00 00 AM.docx"},  // found in the folder
        {fixed, L"Report.docx" + kStamp + L" (2).docx", L"Report.docx"},                 // another Report.docx
        {fixed, L"Document2" + kStamp + L".docx", L"Document2"},                       // never saved
        {fixed, L"Orphan.docx Date Dec 1 2026 Time 10 00 00 AM.docx"},  // no line of its own
        {fixed, L"Report.docx" + kStamp + L".docx.bak"},                // not a backup name
        {fixed, L"Report.docx Date Dec 7 2026 Time 1 05 09 PM.docx"},
        {fixed, L"Report.docx Dec 7 2026.docx"},                        // overwrite name of a known document
        {a, L"Notes.doc Dec 7 2026.docx", L"Notes.doc"},                               // overwrite mode
        {a, L"Report.docx" + kStamp + L".docx", L"Report.docx"},                          // beside the documents
        {b, L"Report.docx" + kStamp + L".docx", L"Report.docx"},
        {unnamed, L"Report.docx" + kStamp + L".docx"},                  // a folder no line names
        {fixed, L"Report.docx" + kStamp + L" (2).docm.protected", L"Report.docx"},  // macros, a password
        {fixed, L"Report.docx" + kStamp + L".dotx"},
        {fixed, L"Report.docx", L"Report.docx"},  // the user's own document, named by a forged line
        {fixed, L"Minutes Dec 7 2026.docx", L"Notes.doc"},  // the user's own: a line of another document
        {fixed, L"Agenda Dec 7 2026.docx"},                 // the user's own: no document of that name
        {japan, L"Report.docx" + kStamp + L".docx.protected", L"Report.docx"},
        {japan, L"Report.docx Dec 6 2026.doc", L"Report.docx"},
        {japan, L"Memo Dec 7 2026.doc"},
    };
    std::string history(1 << 20, 'x');  // the first line read crosses the read's 1 MB chunk
    history.resize(history.size() - 40);
    history += "\r\n";
    auto line = [&](const std::wstring& name, const std::wstring& path) {
        history += ToAnsi(name + L" was backup saved as " + path + L" at 12/7/2026 1:05:09 PM") + "\r\n";
    };
    for (size_t i = 0; i < std::size(files); ++i) {
        const std::wstring path = files[i].folder + L"\\" + files[i].name;
        WriteFileBytes(path, std::string(i + 1, 'b'));
        if (!files[i].document.empty()) line(files[i].document, path);
    }
    line(L"Gone.docx", fixed + L"\\Gone.docx" + kStamp + L".docx");  // its file is gone
    history += "Removed 3 backups older than 1 day at 12/7/2026 1:05:09 PM\r\nnot a line of ours";
    WriteFileBytes(scratch.file(L"History.txt"), history);

    const BackupCatalogue catalogue = LoadBackupCatalogue(scratch.file(L"History.txt"), {japan});
    std::set<std::wstring> listed;
    for (const auto& d : catalogue.documents) {
        std::set<std::wstring> bytes;  // found in the folder's order; "p" when protected
        for (const auto& backup : d.backups)
            bytes.insert((backup.size < 10 ? L"0" : L"") + std::to_wstring(backup.size) +
                         (backup.isProtected ? L"p" : L""));
        std::wstring sizes;
        for (const auto& size : bytes) sizes += L" " + size;
        listed.insert(d.name + L"|" + d.folder.substr(scratch.path().size() + 1) + L"|" + std::to_wstring(d.number) +
                      L"|" + sizes);
    }
    EXPECT_EQ(listed, (std::set<std::wstring>{L"Report.docx|Fixed|0| 01 02 08 14", L"Report.docx|Fixed|2| 03 13p",
                                              L"Document2|Fixed|0| 04", L"Orphan.docx|Fixed|0| 05",
                                              L"Notes.doc|A|0| 09", L"Report.docx|A|0| 10", L"Report.docx|B|0| 11",
                                              L"Report.docx|\u65e5\u672c|0| 18p 19"}));

    const struct {
        std::wstring name, folder, expected;
    } active[] = {
        {L"Report.docx", b, L"B|0"},                // beside its document
        // The first one without a number: remembered folders are read first.
        {L"REPORT.DOCX", L"C:\\Elsewhere", L"\u65e5\u672c|0"},
        {L"Document2", L"", L"Fixed|0"},
        {L"Report.docx", L"https://d.docs.live.net/1a2b3c/Documents", L"\u65e5\u672c|0"},  // a cloud document
    };
    for (const auto& row : active) {
        auto index = FindCatalogueDocument(catalogue, row.name, row.folder);
        ASSERT_TRUE(index) << row.name;
        const CatalogueDocument& d = catalogue.documents[*index];
        EXPECT_EQ(d.folder.substr(scratch.path().size() + 1) + L"|" + std::to_wstring(d.number), row.expected);
    }
    EXPECT_FALSE(FindCatalogueDocument(catalogue, L"Gone.docx", L""));

    // In a folder only the journal names: a document per identity, two of
    // one name told apart by their folder or the start of their backups;
    // a file changed since it was written is listed by its name.
    const std::wstring j = scratch.file(L"J");
    CreateDirectoryW(j.c_str(), nullptr);
    SYSTEMTIME localStart{2026, 12, 2, 8, 10, 2, 30, 0}, utcStart;
    FILETIME start;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &localStart, &utcStart) &&
                SystemTimeToFileTime(&utcStart, &start));
    const std::uint64_t started = (std::uint64_t{start.dwHighDateTime} << 32) | start.dwLowDateTime;
    const DocumentIdentity work{L"C:\\Work\\Report.docx"}, home{L"C:\\Home\\Report.docx"};
    const std::pair<std::wstring, DocumentIdentity> journaled[] = {
        {L"Report.docx Date Dec 6 2026 Time 11 00 00 AM.docx", work}, {L"Report.docx" + kStamp + L".docx", home},
        {L"Report.docx Date Dec 7 2026 Time 02 00 00 PM.docx", work},
        {L"Report.docx Date Dec 5 2026 Time 11 00 00 AM.docx", work},  // saved over since
        {L"Document1" + kStamp + L".docx", {L"Document1", true, {1, 5}}},
        {L"Document1" + kStamp + L" (2).docx", {L"Document1", true, {1, 6}}}};
    BackupJournal journal(scratch.file(L"Backups.journal"));
    for (size_t i = 0; i < std::size(journaled); ++i) {
        const auto& [name, document] = journaled[i];
        WriteFileBytes(j + L"\\" + name, std::string(i + 1, 'j'));
        journal.record({document, document.neverSaved ? L"Document1" : L"Report.docx", j + L"\\" + name,
                        started + (i == 5 ? 36'000'000'000ull : 0), i + 1 + (i == 3)});
    }
    listed.clear();
    for (const auto& d : LoadBackupCatalogue(scratch.file(L"History.txt"), {}, journal.file()).documents)
        if (d.folder == j) listed.insert(d.shownName() + L"|" + d.name + L"|" + std::to_wstring(d.backups.size()));
    EXPECT_EQ(listed, (std::set<std::wstring>{
                          L"Report.docx (C:\\Work)|Report.docx|2", L"Report.docx (C:\\Home)|Report.docx|1",
                          L"Report.docx|Report.docx|1", L"Document1, started Dec 8 10:02 AM|Document1|1",
                          L"Document1, started Dec 8 11:02 AM|Document1|1"}));
}

// The search's texts stay within their budget: past it, the text used least
// recently goes, and only that backup is read again.
TEST(BackupTexts, KeepWithinTheirBudgetAndLetTheLeastRecentlyUsedGo) {
    ScratchFolder scratch;
    std::vector<std::wstring> files;
    for (char c : {'a', 'b', 'c'}) {
        files.push_back(scratch.file(std::wstring(1, c) + L".docx"));
        WriteWordPackage(files.back(), std::string(20000, c));
    }
    auto read = [](BackupTexts& texts, const std::wstring& file) { return texts.read(file, 1, 1)->parts[0]->text[0]; };
    BackupTexts probe;
    read(probe, files[0]);
    BackupTexts texts(probe.bytes() * 5 / 2);  // two texts fit
    for (int i : {0, 1, 0, 2}) read(texts, files[i]);
    EXPECT_LE(texts.bytes(), probe.bytes() * 5 / 2);
    for (const std::wstring& file : files) DeleteFileW(file.c_str());
    EXPECT_EQ(read(texts, files[0]), L'a');
    EXPECT_EQ(read(texts, files[2]), L'c');
    EXPECT_THROW(read(texts, files[1]), Failure) << "let go, so read again";
}
