// Backup runs against the stand-in: which instances a run creates and quits,
// what it saves where and under which name, and the history it writes.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "common/Text.h"
#include "common/UserProtection.h"
#include "support/Clipboard.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Registry.h"
#include "support/WindowLookup.h"

#include <algorithm>
#include <set>

TEST_F(SaveAllRun, NoWordOrBusyWordsCreateNothingAndAreToldOncePerEpisode) {
    EXPECT_EQ(SaveAll(settings), RunOutcome::NoWord);

    // Two Words with a dialog open refuse every call: one bound for both, and
    // one report until a run gets through.
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    auto other = StandIn::StartUserWord({doc(L"B.txt", L"b")});
    SetBusyRetryBound(std::chrono::seconds(1));
    const StandIn::Fault busy{.member = L"*", .action = L"busy", .role = L"user"};
    StandIn::SetFault(L"busy", busy);
    EXPECT_EQ(SaveAll(settings), RunOutcome::WordDidNotAnswer);
    // About ten refusals in the bound, then one per later call (a bound per window: thrice that).
    EXPECT_LT(StandIn::FaultSeen(L"busy"), 20u);
    EXPECT_EQ(SaveAll(settings), RunOutcome::WordDidNotAnswer);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(FirstLine(reports[0]), kWordDidNotAnswerText);
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 0);
    EXPECT_FALSE(PathExists(settings.history));
    EXPECT_EQ(settings.started, 0);  // no wait cursor for a run that backs nothing up

    StandIn::RemoveFault(L"busy");
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    StandIn::SetFault(L"busy", busy);
    EXPECT_EQ(SaveAll(settings), RunOutcome::WordDidNotAnswer);
    EXPECT_EQ(reports.size(), 2u) << "a new episode is told again";
}

TEST_F(SaveAllRun, WordWithoutDocumentsCreatesBothInstancesAndQuitsThem) {
    auto word = StandIn::StartUserWord();
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 2);
    EXPECT_EQ(calls(L"Application.Quit"), 2);  // the scratch instance too: no hidden Word left behind
    EXPECT_FALSE(PathExists(settings.history));
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}

TEST_F(SaveAllRun, ThreeDocumentsGiveThreeBackupsAndThreeLinesInOrder) {
    TestClipboard::SetUnicodeText(L"the user's own clipboard");
    auto word = StandIn::StartUserWord({doc(L"Report.docx", L"Quarterly report\nsecond line"),
                                        doc(L"Notes.txt", L"Gr\u00fc\u00dfe \u20ac"), doc(L"Plan.doc", L"Plan")});
    // Meanwhile the user opens a letter from Explorer, and Word puts it into
    // the backup instance as the second backup is saved.
    StandIn::SetFault(L"letter", {.member = L"SaveAs", .action = L"open", .call = 2, .times = 1,
                                  .file = doc(L"Letter.txt", L"Dear")});
    // And closes the report, backed up already, as the notes are copied: the
    // plan after them still gets its backup.
    StandIn::SetFault(L"close", {.member = L"Range.Copy", .action = L"close", .times = 1, .document = L"Notes.txt",
                                 .file = L"Report.docx"});
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(settings.started, 1);
    EXPECT_EQ(settings.ended, 1);

    std::wstring report = stamped(backups + L"\\Report.docx"), notes = stamped(backups + L"\\Notes.txt"),
                 plan = stamped(backups + L"\\Plan.doc");
    EXPECT_EQ(ReadDocxText(report), L"Quarterly report\nsecond line");
    EXPECT_EQ(ReadDocxText(notes), L"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(ReadDocxText(plan), L"Plan");
    EXPECT_EQ(historyLines(), (std::vector<std::wstring>{
                                  L"Report.docx was backup saved as " + report + L" at 12/7/2026 1:05:09 PM",
                                  L"Notes.txt was backup saved as " + notes + L" at 12/7/2026 1:05:09 PM",
                                  L"Plan.doc was backup saved as " + plan + L" at 12/7/2026 1:05:09 PM"}));
    // The user's documents were only read, and the user's clipboard is back.
    EXPECT_EQ(calls(L"Document.SaveAs"), 3);
    EXPECT_EQ(TestClipboard::UnicodeText(), L"the user's own clipboard");
    // Put back by a window of ours: Windows refuses writes to a clipboard
    // emptied without an owner.
    EXPECT_EQ(GetClipboardOwner(), owner);
    // That instance is not quit, which would close the letter unsaved, but shown.
    auto log = session.calls();
    auto opened = std::ranges::find(log, L"User.Open", &StandIn::Call::member);
    ASSERT_NE(opened, log.end());
    EXPECT_TRUE(std::ranges::any_of(TopLevelWindows(opened->pid), IsWindowVisible));
    for (DWORD pid : StandIn::RunningStandIns())
        EXPECT_TRUE(pid == word.pid || pid == opened->pid || StandIn::WaitForExit(pid, 15000));
    EXPECT_FALSE(StandIn::WaitForExit(opened->pid, 0));
    EXPECT_EQ(WaitForSingleObject(word.process.get(), 0), WAIT_TIMEOUT);
}

TEST_F(SaveAllRun, OverwriteModeAndATrailingBackslashInTheFixedFolder) {
    auto word = StandIn::StartUserWord({doc(L"Report.docx", L"v1")});
    settings.folder = backups + L"\\";
    settings.newFile = false;
    SaveAll(settings);
    std::wstring path = backups + L"\\Report.docx Dec 7 2026.docx";
    EXPECT_EQ(ReadDocxText(path), L"v1");
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SaveAllRun, TwoDocumentsOfTheSameNameKeepBothBackups) {
    std::wstring other = session.folder().path() + L"\\Other";
    CreateDirectoryW(other.c_str(), nullptr);
    std::wstring second = other + L"\\Same.txt";
    WriteUtf8File(second, L"second");
    auto word = StandIn::StartUserWord({doc(L"Same.txt", L"first"), second});
    SaveAll(settings);
    std::wstring base = backups + L"\\Same.txt Date Dec 7 2026 Time 01 05 09 PM";
    EXPECT_EQ(ReadDocxText(base + L".docx"), L"first");
    EXPECT_EQ(ReadDocxText(base + L" (2).docx"), L"second");
    EXPECT_EQ(historyLines().size(), 2u);
}

TEST_F(SaveAllRun, InOverwriteModeSameNamedDocumentsKeepTheirNumberWhenASaveFails) {
    std::wstring other = session.folder().path() + L"\\Other";
    CreateDirectoryW(other.c_str(), nullptr);
    std::wstring second = other + L"\\Same.txt";
    WriteUtf8File(second, L"second");
    auto word = StandIn::StartUserWord({doc(L"Same.txt", L"first"), second});
    settings.newFile = false;
    // The first document's save fails in the first run, the second's in the next.
    for (unsigned failing : {1u, 2u}) {
        StandIn::SetFault(L"saveas", {.member = L"SaveAs", .call = failing, .times = 1});
        SaveAll(settings);
    }
    std::wstring base = backups + L"\\Same.txt Dec 7 2026";
    EXPECT_EQ(ReadDocxText(base + L".docx"), L"first");
    EXPECT_EQ(ReadDocxText(base + L" (2).docx"), L"second");
    EXPECT_EQ(reports.size(), 2u);
    // The window hears of each backup written, and of no other.
    EXPECT_EQ(settings.saved, (std::vector<std::wstring>{base + L" (2).docx", base + L".docx"}));
}

TEST_F(SaveAllRun, ACrashedWordsUnsavedDocumentKeepsItsDayBackupFromANewWordsDocumentOfItsName) {
    settings.newFile = false;
    const std::wstring day = backups + L"\\Document1 Dec 7 2026.docx", second = backups + L"\\Document1 Dec 7 2026 (2).docx";
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic ? "the classic way" : "the package way");
        settings.clipboardCopy = classic;
        {
            auto crashed = StandIn::StartUserWord({}, {L"Document1"});
            SaveAll(settings);
            TerminateProcess(crashed.process.get(), 1);
        }
        ASSERT_EQ(ReadDocxText(day), StandIn::UnsavedText(L"Document1"));
        // The new Word's Document1, and Orvelle started again too.
        StandIn::KillAllStandIns();
        auto word = StandIn::StartUserWord({}, {L"Document1"});
        Dispatch::GetActive(kWordProgId).get(L"Documents").toDispatch().call(L"Item", {1}).toDispatch()
            .get(L"Range").toDispatch().put(L"Text", L"blank");
        BackupRun restarted;
        for (int i = 0; i < 2; ++i) restarted.SaveAll(settings.options(), settings);
        EXPECT_EQ(ReadDocxText(day), StandIn::UnsavedText(L"Document1"));
        EXPECT_EQ(ReadDocxText(second), L"blank");
        EXPECT_EQ(FileNamesIn(backups).size(), 2u);
        EXPECT_TRUE(reports.empty());
        StandIn::KillAllStandIns();
        DeleteFileW(day.c_str()), DeleteFileW(second.c_str());
    }
}

TEST_F(SaveAllRun, DocumentNamesAFileCannotHoldStillGetABackupUnderTheLoggedPath) {
    auto word = StandIn::StartUserWord({}, {L"Q3: plan?", L"CON.txt", std::wstring(300, L'x'), L"Q3/Q4 plan"});
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    auto lines = historyLines();
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        std::wstring path = line.substr(line.find(L" was backup saved as ") + 21);
        path = path.substr(0, path.rfind(L" at "));
        EXPECT_TRUE(PathExists(path)) << path;
        EXPECT_LE(path.size(), kMaxBackupPath);
    }
    EXPECT_EQ(lines[0].find(L"Q3: plan? was backup saved as " + stamped(backups + L"\\Q3_ plan_")), 0u);
    EXPECT_NE(lines[1].find(stamped(backups + L"\\CON_.txt")), std::wstring::npos);
    // A name, not a web address.
    EXPECT_EQ(lines[3].find(L"Q3/Q4 plan was backup saved as " + stamped(backups + L"\\Q3_Q4 plan")), 0u);
}

TEST_F(SaveAllRun, DocumentInADriveRootAndFoldersBesideTheDocuments) {
    std::wstring rootDoc = L"C:\\orvelle-root-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    WriteUtf8File(rootDoc, L"root");
    auto word = StandIn::StartUserWord({rootDoc, doc(L"Here.txt", L"here")});
    settings.beside = true;
    settings.fixed = false;
    SaveAll(settings);
    std::wstring rootBackup = stamped(rootDoc);  // C:\ + \name collapses to C:\name
    EXPECT_EQ(ReadDocxText(rootBackup), L"root");
    EXPECT_EQ(ReadDocxText(stamped(session.folder().file(L"Here.txt"))), L"here");
    EXPECT_TRUE(reports.empty());
    DeleteFileW(rootBackup.c_str());
    StandIn::KillAllStandIns();
    DeleteFileW(rootDoc.c_str());
}

TEST_F(SaveAllRun, NetworkAndEmptyFixedFoldersKeepTheirLeadingPair) {
    auto word = StandIn::StartUserWord({doc(L"Report.docx", L"x")});
    settings.folder = L"\\\\server\\share\\docs";
    SaveAll(settings);
    settings.folder = L"";
    SaveAll(settings);
    std::vector<std::wstring> targets;
    for (auto& c : session.calls())
        if (c.member == L"Document.SaveAs") targets.push_back(c.args);
    ASSERT_EQ(targets.size(), 2u);
    // The call log writes a backslash doubled.
    auto logged = [](std::wstring path) {
        for (size_t i = 0; (i = path.find(L'\\', i)) != std::wstring::npos; i += 2) path.insert(i, 1, L'\\');
        return L"FileName:=String \"" + path;
    };
    EXPECT_EQ(targets[0].find(logged(L"\\\\server\\share\\docs\\Report.docx Date ")), 0u) << targets[0];
    EXPECT_EQ(targets[1].find(logged(L"\\\\Report.docx Date ")), 0u) << targets[1];
    // Neither place can be written here: one report each, and no line claims a backup.
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_TRUE(historyLines().empty());
}

// ---- The package way -------------------------------------------------------------

TEST_F(SaveAllRun, PackageWayWritesWholeDocumentsAndTouchesNeitherClipboardNorAnInstance) {
    settings.clipboardCopy = false;
    const std::wstring png = session.folder().file(L"picture.png");
    WriteFileBytes(png, StandIn::kTinyPng);
    // A macro-enabled document of 4 MB as Word saved it: every script and
    // form of text a real one holds, a processing instruction, the macros.
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n",
                      w = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
    std::string body, macros;
    for (int i = 0; body.size() < (4 << 20); ++i)
        body += "<w:p><w:r><w:t xml:space=\"preserve\">" + std::string(i % 4, 'x') +
                ToUtf8(L"Grüße äöü — Ελληνικά — 中文字體 — 😀 &amp; ") + std::to_string(i) + "</w:t></w:r></w:p>";
    for (int i = 0; i < 5000; ++i) macros += static_cast<char>(i * 31);
    const std::vector<PackageFilePart> macroParts = {
        {"_rels/.rels", "application/vnd.openxmlformats-package.relationships+xml",
         declaration + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml", "application/vnd.ms-word.document.macroEnabled.main+xml",
         declaration + "<w:document xmlns:w=\"" + w + "\"><w:body>" + body + "</w:body></w:document>"},
        {"customXml/item1.xml", "application/xml",
         declaration + "<?mso-contentType?><FormTemplates xmlns=\"http://schemas.microsoft.com/sharepoint/v3/"
                       "contenttype/forms\"><Display>DocumentLibraryForm</Display></FormTemplates>"},
        {"word/vbaProject.bin", "application/vnd.ms-office.vbaProject", macros},
    };
    const std::wstring macroFile = session.folder().file(L"Macros.docm");
    WritePackageFile(macroFile, macroParts);
    auto word = StandIn::StartRichUserWord({{doc(L"Report.docx", L"Quarterly report\nsecond line")},
                                            {doc(L"Notes.txt", L"Gr\u00fc\u00dfe \u20ac")},
                                            {doc(L"Rich.txt", L"Body"), L"Kopf & <Zeile>", png},
                                            {L"Draft", {}, {}, true},
                                            {macroFile}});
    // What a crash left in the folder goes; a write under way elsewhere stays.
    const std::wstring crashed = WriteAgedFile(backups + L"\\~Orvelle unfinished backup 0A1B2C3D.tmp", 5),
                       fresh = WriteAgedFile(backups + L"\\~Orvelle unfinished backup 0A1B2C3E.tmp", 0);
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    auto documents = [&](std::wstring seen = {}) {
        for (int i = 1; i <= 4; ++i) {
            Dispatch d = user.get(L"Documents", {i}).toDispatch();
            seen += d.get(L"Path").toText() + d.get(L"Name").toText() + d.get(L"Range").toDispatch().get(L"Text").toText();
        }
        return seen;
    };
    const std::wstring before = documents();
    const DWORD sequence = GetClipboardSequenceNumber();

    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 0);
    EXPECT_EQ(documents(), before);
    const std::wstring rich = stamped(backups + L"\\Rich.txt");
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Report.docx")), L"Quarterly report\nsecond line");
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Notes.txt")), L"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(ReadDocxParagraphs(rich).front(), L"Body");
    EXPECT_EQ(ReadDocxParagraphs(rich, "word/header1.xml"), std::vector<std::wstring>{L"Kopf & <Zeile>"});
    EXPECT_EQ(ReadDocxPart(rich, "word/media/image1.png"), StandIn::kTinyPng);
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Draft")), StandIn::UnsavedText(L"Draft"));
    // Word opens a macro-enabled backup only as .docm; every part is the document's own.
    std::wstring macroBackup = stamped(backups + L"\\Macros.docm");
    macroBackup.replace(macroBackup.size() - 5, 5, L".docm");
    for (const PackageFilePart& part : macroParts) EXPECT_TRUE(ReadDocxPart(macroBackup, part.name) == part.bytes) << part.name;
    EXPECT_EQ(historyLines().size(), 5u);
    EXPECT_FALSE(PathExists(crashed));
    EXPECT_TRUE(PathExists(fresh));
}

// A package Word will not give sends that document the classic way, with
// the instances made then; Word 2003 sends every document (DecideWay's
// table has the rest).
TEST_F(SaveAllRun, DocumentsGoTheClassicWayWherePackagesCannotOrShouldNotBeRead) {
    struct {
        const wchar_t *what, *version;
        bool rightsManaged;
        int packageReads, instances, saves;
    } cases[] = {{L"one package refused", nullptr, true, 3, 2, 1},
                 // The version from the running Word; Clipboard Copy is the fixture's own setting.
                 {L"Word 2003", L"11.0", false, 0, 2, 3}};
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StandIn::ClearFaults();
        const int reads = calls(L"Document.WordOpenXML"), created = calls(L"ClassFactory.CreateInstance"),
                  saves = calls(L"Document.SaveAs");
        settings.clipboardCopy = false;
        if (c.version) StandIn::SetVersion(c.version);
        settings.extension = c.version ? DocExtensionFor(GetWordVersion()) : L".docx";
        if (c.rightsManaged)
            StandIn::SetFault(L"rights", {.member = L"WordOpenXML", .description = L"rights-managed", .document = L"B.txt"});
        EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(calls(L"Document.WordOpenXML") - reads, c.packageReads);
        EXPECT_EQ(calls(L"ClassFactory.CreateInstance") - created, c.instances);
        EXPECT_EQ(calls(L"Document.SaveAs") - saves, c.saves);
        for (const wchar_t* name : {L"a", L"b", L"c"}) {
            std::wstring path = stamped(backups + L"\\" + std::wstring(1, name[0] - 32) + L".txt");
            EXPECT_EQ(ReadDocxText(path.replace(path.size() - 5, 5, settings.extension)), name);
        }
    }
}

// Beside the documents, each way: a document on the web goes to its sync
// client's folder, else to the chosen location (never a question); one with
// a password only encrypted; a rights-managed one nowhere.
TEST_F(SaveAllRun, DocumentsOnTheWebOrWhoseContentIsProtected) {
    settings.beside = true;
    settings.fixed = false;
    const std::wstring here = session.folder().path(), mount = here + L"\\OneDrive - Kelvane",
                       synced = mount + L"\\Docs\\\u65e5\u672c Notes";
    for (const std::wstring& folder : {mount, mount + L"\\Docs", synced}) CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring providers = L"Software\\SyncEngines\\Providers\\OneDrive\\OrvelleTest";
    reg::SetString(HKEY_CURRENT_USER, providers, L"UrlNamespace", L"https://d.docs.live.net/1A2B3C/");
    reg::SetString(HKEY_CURRENT_USER, providers, L"MountPoint", mount + L"\\");
    std::shared_ptr<void> cleanup(nullptr, [&](void*) { reg::DeleteTree(HKEY_CURRENT_USER, providers); });
    const std::wstring secret =
        L"Geheim: Gr\u00fc\u00dfe \u05d1\u05d9-\u05e4\u05d5\u05df \u65b0\u7d30\u660e \U0001F600 & <b>";
    const std::wstring onWeb = L"https://d.docs.live.net/1a2b3c/";
    const struct {
        StandIn::RichFile file;
        std::wstring classic, package;  // the folder of its backup each way; empty: none
    } cases[] = {
        {{doc(L"Mapped.txt", L"m"), {}, {}, false, onWeb + L"Docs/%E6%97%A5%E6%9C%AC%20Notes"}, synced, synced},
        {{doc(L"Unmapped.txt", L"u"), {}, {}, false, L"https://contoso.sharepoint.com/sites/T/Shared Documents"},
         backups, backups},
        {{doc(L"Climbing.txt", L"c"), {}, {}, false, onWeb + L"Docs/../../.."}, backups, backups},
        {{doc(L"NoFolder.txt", L"n"), {}, {}, false, onWeb + L"Gone"}, backups, backups},
        {{doc(L"Secret.txt", secret), {}, {}, false, {}, true}, L"", here},
        {{doc(L"Restricted.txt", L"r"), {}, {}, false, {}, false, true}, L"", L""},
        {{doc(L"Plain.txt", L"p")}, here, here},  // where Word has no rights client
    };
    std::vector<StandIn::RichFile> files;
    for (const auto& c : cases) files.push_back(c.file);
    auto word = StandIn::StartRichUserWord(files);
    StandIn::SetFault(L"no rights client", {.member = L"Permission", .document = L"Plain.txt"});

    for (bool classic : {true, false}) {
        SCOPED_TRACE(classic ? "the classic way" : "the package way");
        settings.clipboardCopy = classic;
        settings.notes.clear();
        DeleteFileW(settings.history.c_str());
        const DWORD sequence = GetClipboardSequenceNumber();
        const int copies = calls(L"Range.Copy");
        EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
        EXPECT_TRUE(reports.empty());
        std::vector<std::wstring> expected;  // the history is ANSI
        for (const auto& c : cases) {
            const std::wstring name = c.file.file.substr(c.file.file.find_last_of(L'\\') + 1),
                               suffix = c.file.password ? L".protected" : L"";
            const std::wstring& folder = classic ? c.classic : c.package;
            for (const std::wstring& place : {here, backups, synced})
                EXPECT_EQ(PathExists(stamped(place + L"\\" + name) + suffix), place == folder) << ToUtf8(place + name);
            if (!folder.empty())
                expected.push_back(name + L" was backup saved as " + FromAnsi(ToAnsi(stamped(folder + L"\\" + name))) +
                                   suffix + L" at 12/7/2026 1:05:09 PM");
        }
        EXPECT_EQ(historyLines(), expected);
        std::vector<RunNote> told{RunNote::RightsManaged, RunNote::WebDocumentInLocation};
        if (classic) told.insert(told.begin() + 1, RunNote::PasswordProtected);
        EXPECT_EQ(settings.notes, told) << "each once";
        // Copied into the backup and the scratch document: the five others only.
        EXPECT_EQ(calls(L"Range.Copy") - copies, classic ? 10 : 0);
        EXPECT_TRUE(classic || GetClipboardSequenceNumber() == sequence) << "the clipboard untouched";
    }
    EXPECT_EQ(ReadDocxText(stamped(synced + L"\\Mapped.txt")), L"m");

    // The protected backup holds the package for this user's eyes only: none
    // of its text, not even a ZIP's part names.
    const std::string sealed = ReadFileBytes(stamped(here + L"\\Secret.txt") + L".protected"), text = ToUtf8(secret);
    int found = 0;
    for (size_t i = 0; i + 4 <= text.size(); ++i) found += sealed.find(text.substr(i, 4)) != std::string::npos;
    EXPECT_EQ(found, 0);
    EXPECT_EQ(sealed.find("word/document.xml"), std::string::npos);
    WriteFileBytes(session.folder().file(L"opened.docx"), UnprotectForUser(sealed));
    EXPECT_EQ(ReadDocxText(session.folder().file(L"opened.docx")), secret);
}
