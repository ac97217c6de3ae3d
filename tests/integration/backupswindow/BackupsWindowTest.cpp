// The Backups window on a run's backups, against the stand-in.
#include "../engine/SaveAllFixture.h"

#include "backupswindow/BackupsWindow.h"
#include "common/Automation.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "common/UserProtection.h"
#include "engine/HistoryFile.h"
#include "engine/RecoveredCopies.h"
#include "engine/SaveWord.h"
#include "engine/WordProbes.h"
#include "mainwindow/Settings.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Paths.h"
#include "support/Thread.h"
#include "support/Wait.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <atomic>

namespace {

std::wstring Escaped(std::wstring path) {  // as the call log writes a text
    for (size_t at = 0; (at = path.find(L'\\', at)) != std::wstring::npos; at += 2) path.insert(at, L"\\");
    return path;
}

// The remembered backup folders are the window's own: none from elsewhere.
struct NoRememberedFolders {
    NoRememberedFolders() { Clear(); }
    ~NoRememberedFolders() { Clear(); }
    static void Clear() { RegDeleteKeyValueW(HKEY_CURRENT_USER, settings::kKeyPath, settings::kBackupFolders); }
};

bool Loaded(BackupsWindow& window) { return PumpUntil([&] { return !window.loading(); }, std::chrono::seconds(60)); }

int RowOf(const BackupsWindow& window, const std::wstring& whenEnds) {
    for (int row = 0; row < window.backupRows(); ++row)
        if (window.backupText(row, 0).ends_with(whenEnds)) return row;
    return -1;
}

bool Searched(BackupsWindow& window) { return PumpUntil([&] { return !window.searching(); }, std::chrono::seconds(60)); }

// The preview's marks in reading order, once it is made: "-words" struck
// through, "+words" underlined, "*words" on a coloured ground (found), read
// back from the control.
std::vector<std::wstring> Marks(BackupsWindow& window) {
    EXPECT_TRUE(PumpUntil([&] { return !window.previewing(); }, std::chrono::seconds(60)));
    HWND edit = window.preview();
    if (!edit) return {L"no preview"};
    std::wstring text(GetWindowTextLengthW(edit) + 1, L'\0');
    GETTEXTEX get{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200};  // '\r' ends a paragraph
    text.resize(SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(text.data())));
    std::vector<std::wstring> marks;
    wchar_t last = 0;
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
        CHARRANGE one{i, i + 1};
        SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&one));
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        const wchar_t kind = format.dwEffects & CFE_STRIKEOUT ? L'-' : format.dwEffects & CFE_UNDERLINE ? L'+'
                             : !(format.dwEffects & CFE_AUTOBACKCOLOR) && (format.dwMask & CFM_BACKCOLOR) ? L'*' : 0;
        if (kind && kind != last) marks.push_back(std::wstring(1, kind));
        if (kind) marks.back() += text[i];
        last = kind;
    }
    for (auto& mark : marks)
        while (mark.back() == L' ' || mark.back() == L'\r') mark.pop_back();
    return marks;
}

std::string Xml(const std::string& root, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<w:" + root +
           " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" xmlns:mc=\"http://schemas."
           "openxmlformats.org/markup-compatibility/2006\" xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:wps=\"http:"
           "//schemas.microsoft.com/office/word/2010/wordprocessingShape\">" + body + "</w:" + root + ">";
}

// A package as Word saves it: the main part found through _rels/.rels, a header through its own relationships.
std::string Package(const std::string& body, const std::string& header) {
    const std::wstring path = EnvironmentVariable(L"TEMP") + L"\\orvelle-package.docx";
    const std::string rel = "application/vnd.openxmlformats-package.relationships+xml";
    const std::string ns = "http://schemas.openxmlformats.org/";
    WritePackageFile(path, {
        {"_rels/.rels", rel, "<Relationships xmlns=\"" + ns + "package/2006/relationships\"><Relationship Id=\"rId1\" "
                             "Type=\"" + ns + "officeDocument/2006/relationships/officeDocument\" Target=\"word/main.xml\"/>"
                             "</Relationships>"},
        {"word/main.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
         Xml("document", "<w:body>" + body + "</w:body>")},
        {"word/_rels/main.xml.rels", rel, "<Relationships xmlns=\"" + ns + "package/2006/relationships\"><Relationship "
                             "Id=\"rId7\" Type=\"" + ns + "officeDocument/2006/relationships/header\" Target=\"header1.xml\"/>"
                             "</Relationships>"},
        {"word/header1.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml",
         Xml("hdr", "<w:p><w:r><w:t>" + header + "</w:t></w:r></w:p>")}});
    const std::string bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    return bytes;
}

}  // namespace

TEST_F(SaveAllRun, TheBackupsWindowListsARunsBackupsAndOpensAndComparesCopies) {
    NoRememberedFolders remembered;
    const std::wstring user = doc(L"Report.txt", L"Hello");
    auto word = StandIn::StartUserWord({user});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::wstring backup = backups + L"\\" + stamped(L"Report.txt");
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(backup.c_str(), GetFileExInfoStandard, &data));
    // A forged line names the user's own document: it is never listed, so never offered for deletion.
    AppendHistoryLine(settings.history, L"Report.txt was backup saved as " + user + L" at 12/7/2026 1:05:09 PM");

    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    ASSERT_EQ(window.documentRows(), 1);
    EXPECT_EQ(window.selectedDocumentRow(), 0);  // the document active in Word
    EXPECT_EQ(window.documentText(0, 0), L"Report.txt (" + session.folder().path() + L")");
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

TEST_F(SaveAllRun, AProtectedBackupOpensDecryptedAndOneThatCannotBeIsSaidSo) {
    NoRememberedFolders remembered;
    const std::wstring user = doc(L"Report.txt", L"Secret");
    auto word = StandIn::StartUserWord({user});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::string package = ReadFileBytes(backups + L"\\" + stamped(L"Report.txt"));
    // Found through the remembered folders alone; the newer one is damaged.
    const std::wstring stem = backups + L"\\Report.txt Date Dec 7 2026 Time 01 0";
    WriteAgedFile(stem + L"6 00 PM.docx.protected", 2, ProtectForUser(package, L"Report.txt"));
    WriteAgedFile(stem + L"7 00 PM.docm.protected", 1, "damaged");
    for (const wchar_t* end : {L"6 00 PM.docx.protected", L"7 00 PM.docm.protected"}) journalNames(stem + end, user);
    DeleteFileW(settings.history.c_str());
    RememberBackupFolder(backups);

    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    ASSERT_EQ(window.backupRows(), 3);
    EXPECT_EQ(RowOf(window, L"(just now)"), 0) << "only the protected ones are marked";

    window.SelectBackup(RowOf(window, L"(1 minute ago)" + std::wstring(backups::kProtectedMark)));  // damaged
    SendMessageW(window.hwnd(), WM_COMMAND, MAKEWPARAM(backups::kOpenCopy, BN_CLICKED), 0);  // as the button does
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(L"password-protected for another Windows user, or it is damaged"), std::wstring::npos);

    window.SelectBackup(RowOf(window, L"(2 minutes ago)" + std::wstring(backups::kProtectedMark)));
    window.OpenCopy();
    const std::wstring copy = RecoveredCopiesFolder() + L"\\Report (recovered 2026-12-07 13-05).docx";
    EXPECT_EQ(ReadFileBytes(copy), package);
    EXPECT_TRUE(GetFileAttributesW(copy.c_str()) & FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], backups::kCopyHasNoPassword);
    EXPECT_TRUE(FileNamesIn(backups, L"Report (*").empty()) << "never beside the backup";
}

// Open a Copy and Compare of a protected backup, then runs while Word has
// them open and after it has let go of them.
TEST_F(SaveAllRun, NoPlainCopyOfAProtectedBackupOutlivesWordNorIsBackedUp) {
    NoRememberedFolders remembered;
    RemoveFolderTree(RecoveredCopiesFolder());
    const std::wstring user = doc(L"Report.txt", L"Secret");
    auto word = StandIn::StartUserWord({user});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::wstring planted = backups + L"\\Report.txt Date Dec 7 2026 Time 01 06 00 PM.docx.protected";
    WriteAgedFile(planted, 2, ProtectForUser(ReadFileBytes(backups + L"\\" + stamped(L"Report.txt")), L"Report.txt"));
    journalNames(planted, user);
    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    window.SelectBackup(RowOf(window, L"(2 minutes ago)" + std::wstring(backups::kProtectedMark)));
    window.OpenCopy();
    window.Compare();  // Word's comparison: "Document1"

    settings.clipboardCopy = false;
    settings.saved.clear();
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    ASSERT_EQ(settings.saved.size(), 4u) << "the document, both copies and the comparison";
    const std::wstring folder = RecoveredCopiesFolder();
    EXPECT_EQ(FileNamesIn(folder, L"Report (*").size(), 2u) << "open, and only just made";
    // Beside the documents, the copies' backups still go to the chosen folder.
    settings.beside = true;
    settings.saved.clear();
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(std::ranges::count_if(settings.saved, [&](const std::wstring& p) { return p.starts_with(backups); }), 3);
    settings.beside = false;

    // Word lets go of the first copy and the comparison; the other is held as Word holds a read-only file.
    Dispatch documents = Dispatch::GetActive(kWordProgId).get(L"Documents").toDispatch();
    auto close = [&](const wchar_t* name) {
        documents.call(L"Item", {std::wstring(name)}).toDispatch().call(L"Close", {false});
    };
    close(L"Report (recovered 2026-12-07 13-05).docx");
    close(L"Document1");
    const std::wstring held = folder + L"\\Report (recovered 2026-12-07 13-05) (2).docx";
    UniqueFile hold(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    // No run needed (automatic backup off): the window's look deletes a copy
    // seen held the moment it is let go, young as it is.
    EXPECT_EQ(RemoveReleasedCopies(), 1);
    EXPECT_EQ(FileNamesIn(folder, L"Report (*"), std::vector<std::wstring>{held.substr(folder.size() + 1)});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    for (const std::wstring& name : FileNamesIn(backups, L"*"))
        EXPECT_TRUE(name.starts_with(L"Report.txt") || name.ends_with(kProtectedSuffix)) << name.c_str();
    close(L"Report (recovered 2026-12-07 13-05) (2).docx");
    hold.reset();
    EXPECT_EQ(RemoveReleasedCopies(), 1);
    EXPECT_TRUE(FileNamesIn(folder, L"*").empty());
}

// A comparison with a rights-managed document: settled before Word compares,
// written down as the first thing asked of the comparison, never backed up.
TEST_F(SaveAllRun, AComparisonWithARightsManagedDocumentGetsNoBackup) {
    NoRememberedFolders remembered;
    RemoveFolderTree(RecoveredCopiesFolder());
    auto word = StandIn::StartRichUserWord({{.file = doc(L"Report.txt", L"Secret"), .rightsManaged = true}});
    WriteAgedFile(backups + L"\\" + stamped(L"Report.txt"), 2, Package("<w:p><w:r><w:t>Old</w:t></w:r></w:p>", "h"));
    RememberBackupFolder(backups);
    BackupsWindow window(settings.history, GetBackupFolders);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    window.SelectBackup(0);
    window.Compare();
    EXPECT_EQ(ReadFileBytes(RecoveredCopiesFolder() + L"\\Comparisons.txt"), "Document1\trights-managed\r\n");
    std::wstring asked;  // of the user's Word, names left out
    for (const auto& call : session.calls())
        if (call.role == L"user" && call.member != L"Document.Name") asked += call.member + L" ";
    EXPECT_TRUE(asked.ends_with(L"Application.CompareDocuments ")) << asked.c_str();
    EXPECT_LT(asked.find(L"Permission.Enabled"), asked.find(L"Application.CompareDocuments")) << asked.c_str();

    settings.clipboardCopy = false;
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    ASSERT_EQ(settings.saved.size(), 1u) << "neither the document nor the comparison";
    EXPECT_NE(settings.saved[0].find(L"\\Report (recovered "), std::wstring::npos) << "the backup's own copy";
}

// On a fixed drive Delete moves a backup to the Recycle Bin; on the bench's
// network drive N: there is none, and it says the deletion is permanent.
TEST_F(SaveAllRun, DeleteSaysWhetherTheBackupCanBeBroughtBack) {
    NoRememberedFolders remembered;
    ASSERT_EQ(GetDriveTypeW(L"N:\\"), static_cast<UINT>(DRIVE_REMOTE)) << "made by bench-up";
    const std::wstring network = L"N:\\Orvelle delete test", name = L"\\" + stamped(L"Report.txt");
    RemoveFolderTree(network);
    CreateDirectoryW(network.c_str(), nullptr);
    for (const std::wstring& folder : {backups, network}) {
        WriteAgedFile(folder + name, 1);
        RememberBackupFolder(folder);
    }
    int answer = IDNO;
    std::vector<std::wstring> asked;
    services.boxes = [&](const MessageBoxRequest& r) {
        asked.push_back(r.text);
        return answer;
    };
    for (auto [folder, question] : {std::pair{network, backups::kDeleteForGoodQuestion},
                                    std::pair{backups, backups::kRecycleQuestion}}) {
        SCOPED_TRACE(folder.c_str());
        BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
        window.Show();
        ASSERT_TRUE(Loaded(window));
        for (int row = 0; row < window.documentRows(); ++row)
            if (window.documentText(row, 3) == folder) window.SelectDocument(row);
        for (int press : {IDNO, IDYES}) {
            answer = press;
            window.SelectBackup(0);
            window.Delete();
            ASSERT_FALSE(asked.empty());
            EXPECT_EQ(asked.back(), question + (L"\r\n\r\n" + folder + name));
            EXPECT_EQ(PathExists(folder + name), press == IDNO);
            EXPECT_TRUE(Loaded(window));
        }
    }
    EXPECT_TRUE(reports.empty());
}

// Planted from Linux by the test's fixture: Wine creates files in a large
// folder ever more slowly.
TEST(BackupsWindowReading, AnswersAndFillsInWhileALargeFolderIsRead) {
    ComApartment com;
    NoRememberedFolders remembered;
    const std::wstring large = WindowsPath(EnvironmentVariable(L"LARGE_BACKUP_FOLDER"));
    const int planted = static_cast<int>(FileNamesIn(large, L"Large.docx Date *").size());
    ASSERT_GE(planted, 10000) << "planted by backups.large.up";
    RememberBackupFolder(large);
    const std::wstring noHistory = large + L"\\Orvelle.txt";
    BackupsWindow window(noHistory, GetBackupFolders);
    window.Show();
    EXPECT_TRUE(window.loading()) << "shown before the folder is read";

    // Another program asks the backups list for its count meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> partial{0};
    HWND list = GetDlgItem(window.hwnd(), backups::kBackups);
    Thread asker([&] {
        while (!done) {
            DWORD_PTR count = 0;
            if (SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 30000, &count) && count > 0 &&
                static_cast<int>(count) < planted)
                partial = static_cast<int>(count);
            Sleep(10);
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return partial > 0 || !window.loading(); }, std::chrono::seconds(60)));
    EXPECT_GT(partial, 0) << "the list answered with part of the folder while it was read";
    window.Refresh();  // F5 in the middle: what the first reading found is not counted twice
    EXPECT_TRUE(Loaded(window));
    done = true;
    asker.join();
    EXPECT_EQ(window.documentRows(), 1);
    EXPECT_EQ(window.backupRows(), planted);

    // Gone while it reads: nothing is posted to it afterwards.
    auto closing = std::make_unique<BackupsWindow>(noHistory, GetBackupFolders);
    closing->Show();
    EXPECT_TRUE(closing->loading());
    closing.reset();
    PumpUntil([] { return false; }, Millis(300));
}

// What Word writes: runs split by formatting, comments and processing
// instructions between them, references, tab stops, deleted text, and
// Hebrew, Greek and CJK text; a protected backup and a Word 97-2003 one.
// The packages go to SEARCH_REFERENCE with what was found, for the Python
// reference (check_search.py) to hold against.
TEST_F(SaveAllRun, TheSearchFindsTheWordsAsTheyReadAndMissesNothingThePythonReferenceFinds) {
    NoRememberedFolders remembered;
    const std::string rich = Package(
        "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr><w:r><w:t>The quick br</w:t></w:r>"
        "<!-- <w:t>hidden</w:t> --><w:r><w:rPr><w:b/></w:rPr><w:t>own fox</w:t></w:r><w:r><w:br/>"
        "<w:t xml:space=\"preserve\">jumps &amp; runs</w:t></w:r></w:p>"
        "<w:p><w:r><w:t>Καλημέρα κόσμε</w:t></w:r></w:p><w:p><w:r><w:t>שָׁלוֹם עולם</w:t></w:r></w:p>"
        "<w:p><w:r><w:t>文書の</w:t></w:r><?mso-x done?><w:r><w:t>&#x30D0;ックアップ</w:t></w:r></w:p>"
        "<w:p><w:del><w:r><w:delText>vanished</w:delText></w:r></w:del><w:r><w:instrText>PAGE</w:instrText></w:r></w:p>"
        "<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx><w:txbxContent><w:p><w:r>"
        "<w:t>Boxed note</w:t></w:r></w:p></w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback><w:pict>"
        "<v:textbox><w:txbxContent><w:p><w:r><w:t>Boxed note</w:t></w:r></w:p></w:txbxContent></v:textbox></w:pict>"
        "</mc:Fallback></mc:AlternateContent></w:r></w:p>",
        "Confidential draft");
    const std::string plain = Package("<w:p><w:r><w:t>Café déjà vu, the quick fox</w:t></w:r></w:p>", "Other");
    const std::wstring stem = backups + L"\\Notes.docx Date Dec 7 2026 Time 01 0";
    const std::vector<std::wstring> files = {stem + L"1 00 PM.docx", stem + L"2 00 PM.docx.protected",
                                             stem + L"3 00 PM.doc", stem + L"4 00 PM.docx"};
    WriteAgedFile(files[0], 1, rich);
    WriteAgedFile(files[1], 2, ProtectForUser(plain, L"Notes.docx"));
    WriteAgedFile(files[2], 3, "\xD0\xCF\x11\xE0 a Word 97-2003 file");
    WriteAgedFile(files[3], 4, plain);
    RememberBackupFolder(backups);
    const std::wstring reference = WindowsPath(EnvironmentVariable(L"SEARCH_REFERENCE"));
    CreateDirectoryW(reference.c_str(), nullptr);
    WriteFileBytes(reference + L"\\rich.docx", rich);
    WriteFileBytes(reference + L"\\plain.docx", plain);

    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    // Each backup by its age; "doc" for the row that says it was not searched.
    const struct {
        std::wstring words;
        std::vector<std::wstring> rows;
    } kCases[] = {
        {L"brown  FOX jumps", {L"1", L"doc"}},  // across runs, a line break and spaces typed twice
        {L"καλημερα", {L"1", L"doc"}},          {L"שלום", {L"1", L"doc"}},
        {L"のバック", {L"1", L"doc"}},          {L"CONFIDENTIAL", {L"1", L"doc"}},
        {L"cafe DEJA", {L"2", L"doc", L"4"}},   {L"quick", {L"1", L"2", L"doc", L"4"}},
        {L"vanished", {L"doc"}},                {L"hidden", {L"doc"}},
        {L"page", {L"doc"}},
    };
    std::string found;
    for (const auto& c : kCases) {
        window.Search(c.words, false);
        ASSERT_TRUE(Searched(window));
        std::vector<std::wstring> rows;
        found += ToUtf8(c.words) + "\t";
        for (int row = 0; row < window.backupRows(); ++row) {
            const std::wstring when = window.backupText(row, 0);
            rows.push_back(window.backupText(row, 2) == backups::kClassicNotSearched ? L"doc"
                                                                                     : when.substr(when.find(L'(') + 1, 1));
            if (rows.back() == L"1") found += " rich.docx";
            if (rows.back() == L"4") found += " plain.docx";
        }
        found += "\n";
        EXPECT_EQ(rows, c.rows) << c.words.c_str();
        EXPECT_NE(window.statusText().find(L"of 4 backups"), std::wstring::npos) << window.statusText().c_str();
    }
    WriteFileBytes(reference + L"\\found.txt", found);
    // Word writes a text box twice, for old and new readers: it counts once.
    window.Search(L"boxed note", false);
    ASSERT_TRUE(Searched(window));
    EXPECT_EQ(window.backupText(0, 2), L"1 match");

    // The preview of the newest found marks every match and scrolls to the first.
    window.Search(L"QUICK", false);
    ASSERT_TRUE(Searched(window));
    window.SelectBackup(0);
    EXPECT_EQ(Marks(window), std::vector<std::wstring>{L"*quick"});
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? L"" : reports[0]).c_str();

    // Over all documents, F5 and Delete read the backups again while the
    // search's rows are on screen: the rows go, and come back as found anew.
    auto rows = [&] {
        std::vector<std::wstring> texts;
        for (int row = 0; row < window.backupRows(); ++row)
            texts.push_back(window.backupText(row, 1) + L" " + window.backupText(row, 2));
        return texts;
    };
    window.Search(L"quick", true);
    ASSERT_TRUE(Searched(window));
    const std::vector<std::wstring> before = rows();
    ASSERT_EQ(before.size(), 4u);
    window.Refresh();
    rows();
    ASSERT_TRUE(Loaded(window) && Searched(window));
    EXPECT_EQ(rows(), before);
    services.boxes = [](const MessageBoxRequest&) { return IDYES; };
    window.SelectBackup(0);
    window.Delete();
    rows();
    ASSERT_TRUE(Loaded(window) && Searched(window));
    EXPECT_EQ(rows(), std::vector<std::wstring>(before.begin() + 1, before.end()));
}

// Two backups that the stand-in's package made: the older one's preview
// marks what the newer one no longer holds and what it holds anew; the
// newest is compared with the text Word holds now.
TEST_F(SaveAllRun, ThePreviewMarksTheWordsDeletedAndAddedSinceTheBackup) {
    NoRememberedFolders remembered;
    settings.clipboardCopy = false;
    const std::wstring user = doc(L"Report.txt", L"The first draft of the plan\nA second paragraph stays\nThis line goes");
    auto word = StandIn::StartUserWord({user});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::wstring newest = backups + L"\\" + stamped(L"Report.txt");
    const std::wstring older = backups + L"\\Report.txt Date Dec 7 2026 Time 01 00 00 PM.docx";
    WriteAgedFile(older, 5, ReadFileBytes(newest));
    journalNames(older, user);
    Dispatch range = Dispatch::GetActive(kWordProgId).get(L"Documents", {1}).toDispatch().call(L"Range").toDispatch();
    range.put(L"Text", L"The final draft of the plan\rA second paragraph stays\rNew closing words");
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);

    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    ASSERT_EQ(window.backupRows(), 2);
    window.SelectBackup(1);  // the older one
    EXPECT_EQ(Marks(window),
              (std::vector<std::wstring>{L"-first", L"+final", L"-This line goes", L"+New closing words"}));
    range.put(L"Text", L"The final plan\rA second paragraph stays\rNew closing words");
    window.SelectBackup(0);
    EXPECT_EQ(Marks(window), (std::vector<std::wstring>{L"-draft of the"}));
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? L"" : reports[0]).c_str();
}

// Two documents of one name in two folders, as a run recorded them in its
// journal: two rows; Compare of each reaches Word's comparison with that
// very document, and the copy is named after the document, not the row.
// The newest backup's preview shows what changed in Word since; so does the
// window a balloon opens at a backup, whose search works too.
TEST_F(SaveAllRun, TwoDocumentsOfOneNameAreComparedEachWithItsOwnOpenDocument) {
    NoRememberedFolders remembered;
    settings.clipboardCopy = false;
    // A dot in a folder: the copy's name is made of "Report.docx" alone, never of the row's label.
    const std::wstring work = session.folder().file(L"Work"), home = session.folder().file(L"Home v1.2");
    for (const std::wstring& folder : {work, home}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteUtf8File(folder + L"\\Report.docx", folder == work ? L"Work draft one" : L"Home draft one");
    }
    auto word = StandIn::StartUserWord({work + L"\\Report.docx", home + L"\\Report.docx"});
    ASSERT_EQ(SaveAll(settings), RunOutcome::Done);
    Dispatch documents = Dispatch::GetActive(kWordProgId).get(L"Documents").toDispatch();
    documents.call(L"Item", {2L}).toDispatch().call(L"Range").toDispatch().put(L"Text", L"Home draft two");

    BackupsWindow window(settings.history, GetBackupFolders, settings.journal);
    window.Show();
    ASSERT_TRUE(Loaded(window));
    ASSERT_EQ(window.documentRows(), 2);
    const std::wstring active =
        Dispatch::GetActive(kWordProgId).get(L"ActiveDocument").toDispatch().get(L"Path").toText();
    EXPECT_EQ(window.documentText(*window.selectedDocumentRow(), 0), L"Report.docx (" + active + L")");
    const std::wstring copy = backups + L"\\Report (recovered 2026-12-07 13-05)";
    for (const auto& [folder, n] : {std::pair{work, L""}, std::pair{home, L" (2)"}}) {
        int row = 0;
        while (row < 2 && window.documentText(row, 0) != L"Report.docx (" + folder + L")") ++row;
        ASSERT_LT(row, 2) << folder.c_str();
        window.SelectDocument(row);
        window.Compare();
        auto calls = session.calls();
        const auto compare = std::find_if(calls.rbegin(), calls.rend(),
                                          [](auto& c) { return c.member == L"Application.CompareDocuments"; });
        ASSERT_NE(compare, calls.rend());
        EXPECT_EQ(compare->args, L"OriginalDocument:=Object \"" + Escaped(copy + n + L".docx") +
                                     L"\", RevisedDocument:=Object \"" + Escaped(folder + L"\\Report.docx") + L"\"");
        const std::vector<std::wstring> changed{L"-one", L"+two"};
        EXPECT_EQ(Marks(window), folder == work ? std::vector<std::wstring>() : changed);
    }
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? L"" : reports[0]).c_str();

    BackupsWindow balloon(settings.history, GetBackupFolders, settings.journal);
    balloon.ShowDocumentOf(backups + L"\\" + stamped(L"Report.docx").substr(0, stamped(L"Report.docx").size() - 5) +
                           L" (2).docx");
    ASSERT_TRUE(Loaded(balloon));
    EXPECT_EQ(balloon.documentText(*balloon.selectedDocumentRow(), 0), L"Report.docx (" + home + L")");
    EXPECT_EQ(Marks(balloon), (std::vector<std::wstring>{L"-one", L"+two"}));
    balloon.Search(L"draft", false);
    ASSERT_TRUE(Searched(balloon));
    EXPECT_EQ(balloon.statusText(), L"1 of 1 backup holds \u201cdraft\u201d");
}
