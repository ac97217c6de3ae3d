// The backup run against the stand-in, with real files, the real clipboard,
// the real folder dialog and the real history file.
#include "common/Automation.h"
#include "common/ClipboardLock.h"
#include "common/MessageBox.h"
#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "engine/SaveWord.h"
#include "FolderDialog.h"
#include "shell/AddFolder.h"
#include "StandIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kLocation[] = L"in Quillbay2021/08/31.SaveWord.SaveAll ";

struct TestSettings : BackupSettings {
    bool beside = false, fixed = true, newFile = true;
    std::wstring folder, extension = L".docx", history;
    HWND owner = nullptr;
    int started = 0, ended = 0;
    bool skipUnchanged = false;
    int keepDays = 0;
    bool SkipUnchanged() const override { return skipUnchanged; }
    int KeepBackupsDays() const override { return keepDays; }
    void BackupStarted() override { ++started; }
    void BackupEnded() override { ++ended; }
    bool SaveBesideDocuments() const override { return beside; }
    bool SaveToFixedFolder() const override { return fixed; }
    std::wstring FixedFolder() const override { return folder; }
    bool CreateNewFile() const override { return newFile; }
    std::wstring DocExtension() const override { return extension; }
    std::wstring HistoryFile() const override { return history; }
    HWND Owner() const override { return owner; }
    std::wstring AskForFolder(const std::wstring& prompt) const override { return BrowseForFolder(owner, prompt, L""); }
};

SYSTEMTIME Noon() {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 7, t.wHour = 13, t.wMinute = 5, t.wSecond = 9;
    return t;
}

class SaveAllRun : public ::testing::Test {
protected:
    SaveAllRun() {
        SetClockForTests(Noon);
        SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            reports.push_back(r.text);
            return IDOK;
        });
        backups = session.folder().path() + L"\\Backups";
        CreateDirectoryW(backups.c_str(), nullptr);
        settings.folder = backups;
        settings.history = session.folder().file(L"History.txt");
        owner = CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
        settings.owner = owner;
    }
    ~SaveAllRun() override {
        DestroyWindow(owner);
        SetMessageBoxHandler(nullptr);
        SetClockForTests(nullptr);
    }

    std::wstring doc(const std::wstring& name, const std::wstring& text) { return session.folder().write(name, text); }
    std::wstring stamped(const std::wstring& base) const { return base + L" Date Dec 7 2026 Time 01 05 09 PM.docx"; }
    std::vector<std::wstring> historyLines() const {
        std::vector<std::wstring> lines;
        if (GetFileAttributesW(settings.history.c_str()) == INVALID_FILE_ATTRIBUTES) return lines;
        std::wstring text = FromAnsi(ReadFileBytes(settings.history));
        for (size_t start = 0, end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    int calls(const std::wstring& member) const {
        auto log = session.calls();
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](auto& c) { return c.member == member; }));
    }
    static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    // Waits until only the user's Word is left, as after every run.
    bool onlyUserWordLeft(DWORD userPid) {
        for (DWORD pid : StandIn::RunningStandIns())
            if (pid != userPid && !StandIn::WaitForExit(pid, 15000)) return false;
        return true;
    }

    ComApartment com;
    StandIn::Session session;
    TestSettings settings;
    std::wstring backups;
    std::vector<std::wstring> reports;
    HWND owner = nullptr;
};

std::wstring FirstLine(const std::wstring& report) { return report.substr(0, report.find(L"\r\n")); }

// Another program's thread: once `when` holds, it does `what` with the
// clipboard, and lets it go when the test says so (or at once).
class OtherProgram {
public:
    enum class Act { Copy, HoldUntilReleased, HoldFor1500ms };
    OtherProgram(std::function<bool()> when, Act act) {
        thread_ = std::thread([this, when = std::move(when), act] {
            while (!when() && !released_) Sleep(10);
            if (act == Act::Copy) return TestClipboard::SetUnicodeText(L"copied by another program");
            OpenClipboard(nullptr);
            held_ = true;
            if (act == Act::HoldFor1500ms) Sleep(1500);
            while (act == Act::HoldUntilReleased && !released_) Sleep(10);
            CloseClipboard();
        });
    }
    ~OtherProgram() { release(); }
    void release() {
        released_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool held() const { return held_; }

private:
    std::thread thread_;
    std::atomic<bool> released_{false}, held_{false};
};

}  // namespace

TEST_F(SaveAllRun, NoWordOrABusyWordCreatesLogsAndShowsNothing) {
    EXPECT_EQ(SaveAll(settings), RunOutcome::NoWord);

    // A Word with one of its dialogs open refuses every call; the run says
    // so to the window instead of passing as "no Word".
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    SetBusyRetryBound(std::chrono::milliseconds(300));
    StandIn::SetFault(L"busy", {.member = L"*", .action = L"busy", .role = L"user"});
    EXPECT_EQ(SaveAll(settings), RunOutcome::WordDidNotAnswer);
    SetBusyRetryBound(std::chrono::seconds(30));

    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 0);
    EXPECT_FALSE(Exists(settings.history));
    EXPECT_EQ(settings.started, 0);  // no wait cursor for a run that backs nothing up
}

TEST_F(SaveAllRun, WordWithoutDocumentsCreatesBothInstancesAndQuitsThem) {
    auto word = StandIn::StartUserWord();
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 2);
    EXPECT_EQ(calls(L"Application.Quit"), 2);  // the scratch instance too: no hidden Word left behind
    EXPECT_FALSE(Exists(settings.history));
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}

TEST_F(SaveAllRun, ThreeDocumentsGiveThreeBackupsAndThreeLinesInOrder) {
    TestClipboard::SetUnicodeText(L"the user's own clipboard");
    auto word = StandIn::StartUserWord({doc(L"Report.docx", L"Quarterly report\nsecond line"),
                                        doc(L"Notes.txt", L"Gr\u00fc\u00dfe \u20ac"), doc(L"Plan.doc", L"Plan")});
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
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
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
}

TEST_F(SaveAllRun, DocumentNamesAFileCannotHoldStillGetABackupUnderTheLoggedPath) {
    auto word = StandIn::StartUserWord({}, {L"Q3: plan?", L"CON.txt", std::wstring(300, L'x')});
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    auto lines = historyLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) {
        std::wstring path = line.substr(line.find(L" was backup saved as ") + 21);
        path = path.substr(0, path.rfind(L" at "));
        EXPECT_TRUE(Exists(path)) << path;
        EXPECT_LE(path.size(), kMaxBackupPath);
    }
    EXPECT_EQ(lines[0].find(L"Q3: plan? was backup saved as " + stamped(backups + L"\\Q3_ plan_")), 0u);
    EXPECT_NE(lines[1].find(stamped(backups + L"\\CON_.txt")), std::wstring::npos);
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

TEST_F(SaveAllRun, NeverSavedDocumentInSameFolderModeAsksUntilAFolderIsChosen) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    settings.beside = true;
    settings.fixed = false;
    std::wstring chosen = backups;
    folder_dialog::Driver cancel(owner, IDCANCEL, nullptr);
    std::unique_ptr<folder_dialog::Driver> choose;
    // The second dialog comes after the first is cancelled.
    std::thread second([&] {
        cancel.join();
        choose = std::make_unique<folder_dialog::Driver>(owner, IDOK, folder_dialog::Select(chosen, L"Backups"));
    });
    SaveAll(settings);
    second.join();
    choose->join();

    EXPECT_TRUE(cancel.seen.found);
    EXPECT_TRUE(folder_dialog::HasText(cancel.seen.statics, L"Document1 is unsaved. Please select location:"));
    EXPECT_TRUE(choose->seen.selected);
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Document1")), StandIn::UnsavedText(L"Document1"));
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SaveAllRun, NeverSavedDocumentInFixedFolderModeAsksNothing) {
    auto word = StandIn::StartUserWord({}, {L"Document2"});
    SaveAll(settings);  // no dialog driver: a dialog would hang the test
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Document2")), StandIn::UnsavedText(L"Document2"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(SaveAllRun, DocumentClosedWhileThePickerIsOpenIsSkippedQuietly) {
    auto word = StandIn::StartUserWord({doc(L"Kept.txt", L"kept")}, {L"Document3"});
    settings.beside = true;
    settings.fixed = false;
    // The user closes the unsaved document, then cancels the dialog.
    folder_dialog::Driver driver(owner, IDCANCEL, [](HWND, HWND, folder_dialog::Seen&) {
        ComApartment com;
        Dispatch app = Dispatch::GetActive(kWordProgId);
        app.get(L"Documents").toDispatch().call(L"Item", {2}).toDispatch().call(L"Close", {false});
    });
    SaveAll(settings);
    driver.join();
    EXPECT_TRUE(driver.seen.found);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_EQ(calls(L"Document.SaveAs"), 1);
}

TEST_F(SaveAllRun, ASaveAsFailureIsReportedOnceAndTheOthersAreStillSaved) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")});
    StandIn::SetFault(L"saveas", {.member = L"SaveAs", .description = L"The disk is full.", .call = 2, .times = 1});
    SaveAll(settings);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(FirstLine(reports[0]), L"The disk is full.");
    EXPECT_NE(reports[0].find(std::wstring(L"\r\n") + kLocation + L"at line "), std::wstring::npos);
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a");
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\C.txt")), L"c");
    auto lines = historyLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 6), L"A.txt ");
    EXPECT_EQ(lines[1].substr(0, 6), L"C.txt ");
}

TEST_F(SaveAllRun, AMissingBackupFolderIsReportedForEachDocument) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    settings.folder = backups + L"\\does not exist";
    SaveAll(settings);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_TRUE(historyLines().empty());
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}

TEST_F(SaveAllRun, AFailedCopyNeverSavesOlderClipboardContent) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    TestClipboard::SetUnicodeText(L"stale content");
    StandIn::SetFault(L"copy", {.member = L"Copy", .document = L"B.txt"});
    SaveAll(settings);
    ASSERT_GE(reports.size(), 1u);
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a");
    EXPECT_FALSE(Exists(stamped(backups + L"\\B.txt")));
    ASSERT_EQ(historyLines().size(), 1u);
    EXPECT_EQ(TestClipboard::UnicodeText(), L"stale content");  // and the user's clipboard is back
}

TEST_F(SaveAllRun, ACopyMadeByAnotherProgramIsNeverSavedAndTheNewestCopyStays) {
    // A moment in which another program copies: between a Copy and its
    // Paste, and after the run's last Copy.
    const StandIn::Fault pauses[] = {
        {.member = L"Paste", .action = L"slow", .milliseconds = 1500, .times = 1, .role = L"created"},
        {.member = L"DisplayAlerts", .action = L"slow", .milliseconds = 1500, .call = 2, .times = 1},
    };
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    for (const auto& pause : pauses) {
        TestClipboard::SetUnicodeText(L"the user's own clipboard");
        const std::wstring name = L"pause " + pause.member;
        StandIn::SetFault(name, pause);
        // The fault counts every matching call: the pause is the call-th.
        OtherProgram other([&] { return StandIn::FaultSeen(name) >= pause.call; }, OtherProgram::Act::Copy);
        SaveAll(settings);
        other.release();
        EXPECT_TRUE(reports.empty()) << ToUtf8(pause.member);
        EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a") << ToUtf8(pause.member);
        EXPECT_EQ(ReadDocxText(stamped(backups + L"\\B.txt")), L"b") << ToUtf8(pause.member);
        // The other program's copy is newer than the user's: it is what stays.
        EXPECT_EQ(TestClipboard::UnicodeText(), L"copied by another program") << ToUtf8(pause.member);
    }
}

TEST_F(SaveAllRun, AClipboardHeldByAnotherProgramIsWaitedForThenReportedOnce) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")});
    const struct {
        const char* when;
        OtherProgram::Act act;
        size_t reports, lines;
        int creations;
    } cases[] = {
        {"as the run starts, briefly", OtherProgram::Act::HoldFor1500ms, 0, 3, 2},
        {"as the run starts, throughout", OtherProgram::Act::HoldUntilReleased, 1, 0, 0},
        {"after the first backup, throughout", OtherProgram::Act::HoldUntilReleased, 1, 1, 2},
    };
    for (const auto& c : cases) {
        reports.clear();
        DeleteFileW(settings.history.c_str());
        const int creationsBefore = calls(L"ClassFactory.CreateInstance");
        TestClipboard::SetUnicodeText(L"the user's own clipboard");
        bool atStart = std::string(c.when).starts_with("as the run starts");
        // The fifth count of the user's documents is the second document's
        // first: a pause there lets the other program take the clipboard.
        const std::wstring pause = L"pause " + FromUtf8(c.when);
        StandIn::SetFault(pause, {.member = L"Count", .action = L"slow", .milliseconds = 1000, .call = 5,
                                  .times = 1, .role = L"user"});
        OtherProgram other([&] { return atStart || StandIn::FaultSeen(pause) >= 5; }, c.act);
        while (atStart && !other.held()) Sleep(5);
        SaveAll(settings);
        other.release();
        ASSERT_EQ(reports.size(), c.reports) << c.when;
        if (c.reports) {
            EXPECT_NE(FirstLine(reports[0]).find(L"in use by another program"), std::wstring::npos);
        }
        EXPECT_EQ(historyLines().size(), c.lines) << c.when;
        EXPECT_EQ(calls(L"ClassFactory.CreateInstance") - creationsBefore, c.creations) << c.when;
        EXPECT_TRUE(onlyUserWordLeft(word.pid)) << c.when;
        if (atStart) {
            EXPECT_EQ(TestClipboard::UnicodeText(), L"the user's own clipboard") << c.when;
        }
    }
}

TEST_F(SaveAllRun, AWordInstanceThatDiesIsReportedOnce) {
    const struct {
        const char* instance;
        StandIn::Fault death;
        size_t lines;  // the documents still backed up
    } cases[] = {
        {"user", {.member = L"Copy", .action = L"die", .call = 3, .times = 1, .role = L"user"}, 1},
        {"backup", {.member = L"SaveAs", .action = L"die", .call = 2, .times = 1}, 1},
        // The second Paste of a created instance is the scratch copy's.
        {"scratch", {.member = L"Paste", .action = L"die", .call = 2, .times = 1, .role = L"created"}, 3},
    };
    for (const auto& c : cases) {
        reports.clear();
        DeleteFileW(settings.history.c_str());
        auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")});
        StandIn::SetFault(L"die", c.death);
        SaveAll(settings);
        ASSERT_EQ(reports.size(), 1u) << c.instance << "\n" << ToUtf8(reports.back());
        EXPECT_EQ(FirstLine(reports[0]), L"The automation server is no longer available; it may have stopped or crashed.");
        EXPECT_EQ(historyLines().size(), c.lines) << c.instance;
        // What is still alive of ours was told to quit.
        EXPECT_TRUE(onlyUserWordLeft(c.instance == std::string("user") ? 0 : word.pid)) << c.instance;
        StandIn::KillAllStandIns();
    }
}

TEST_F(SaveAllRun, AWindowClosingDuringTheRunGetsBothInstancesQuitAndTheClipboardBack) {
    auto word = StandIn::StartUserWord({}, {L"Document5"});
    settings.beside = true;
    settings.fixed = false;
    TestClipboard::SetUnicodeText(L"the user's own clipboard");
    static int quitsWhenFinished = -1;
    static const StandIn::Session* standIns = nullptr;
    standIns = &session;
    // The close arrives while the picker is open.
    UINT_PTR timer = SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        FinishRunNow();
        auto log = standIns->calls();
        quitsWhenFinished = static_cast<int>(
            std::count_if(log.begin(), log.end(), [](auto& c) { return c.member == L"Application.Quit"; }));
    });
    folder_dialog::Driver driver(owner, IDCANCEL, [](HWND, HWND, folder_dialog::Seen&) { Sleep(800); });
    SaveAll(settings);
    KillTimer(nullptr, timer);
    driver.join();
    EXPECT_EQ(quitsWhenFinished, 2);
    EXPECT_EQ(TestClipboard::UnicodeText(), L"the user's own clipboard");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(historyLines().empty());
    EXPECT_EQ(calls(L"Document.SaveAs"), 0);
    EXPECT_FALSE(IsBackupRunning());
}

TEST_F(SaveAllRun, ASecondRunDuringTheFolderPickerIsIgnored) {
    auto word = StandIn::StartUserWord({}, {L"Document4"});
    settings.beside = true;
    settings.fixed = false;
    static TestSettings* current = nullptr;
    static int nestedCalls = 0;
    current = &settings;
    nestedCalls = 0;
    // A timer tick while the picker is open starts another run, as the
    // scheduler or the test button would.
    UINT_PTR timer = SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR, DWORD) {
        ++nestedCalls;
        EXPECT_TRUE(IsBackupRunning());
        SaveAll(*current);
    });
    folder_dialog::Driver driver(owner, IDOK, [&](HWND dialog, HWND tree, folder_dialog::Seen& seen) {
        Sleep(800);  // let a few ticks arrive
        folder_dialog::Select(backups, L"Backups")(dialog, tree, seen);
    });
    SaveAll(settings);
    KillTimer(nullptr, timer);
    driver.join();
    EXPECT_GE(nestedCalls, 1);
    EXPECT_EQ(calls(L"ClassFactory.CreateInstance"), 2);
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_FALSE(IsBackupRunning());
}

// ---- housekeeping ----------------------------------------------------------------

TEST_F(SaveAllRun, AnUnchangedDocumentIsBackedUpOnceUntilItChanges) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    settings.skipUnchanged = true;
    // A second further at every read of the clock: every run has names of its own.
    static WORD second = 0;
    SetClockForTests([] {
        SYSTEMTIME t = Noon();
        t.wSecond = second++ % 60;
        return t;
    });
    for (int run = 0; run < 4; ++run) SaveAll(settings);
    EXPECT_EQ(historyLines().size(), 1u);
    EXPECT_EQ(calls(L"Document.SaveAs"), 1);
    // A change is backed up again.
    {
        Dispatch app = Dispatch::GetActive(kWordProgId);
        app.get(L"Documents").toDispatch().call(L"Item", {1}).toDispatch().get(L"Range").toDispatch().put(L"Text", L"b");
    }
    SaveAll(settings);
    ASSERT_EQ(historyLines().size(), 2u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SaveAllRun, OnlyOldStampedBackupsOfTheRunsDocumentsInItsFoldersAreRemoved) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")});
    settings.keepDays = 1;
    std::wstring elsewhere = backups + L"\\Elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    const std::wstring old = L"A.txt Date Dec 5 2026 Time 09 00 00 AM";
    const struct {
        std::wstring path;
        bool removed;
    } files[] = {
        {backups + L"\\" + old + L".docx", true},
        {backups + L"\\" + old + L" (2).docx", true},
        {backups + L"\\" + old + L".docx.bak", false},                           // the user's own
        {backups + L"\\B.txt Date Dec 5 2026 Time 09 00 00 AM.docx", false},      // not a document of the run
        {elsewhere + L"\\" + old + L".docx", false},                              // another folder
        {backups + L"\\A.txt Date Dec 6 2026 Time 09 00 00 PM.docx", false},       // newer than a day
    };
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (const auto& f : files) {
        WriteUtf8File(f.path, L"x");
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        const bool recent = f.path.find(L"Dec 6") != std::wstring::npos;
        t.QuadPart -= (recent ? 12ull : 48ull) * 3600 * 10'000'000;
        FILETIME written{t.LowPart, t.HighPart};
        UniqueHandle file(CreateFileW(f.path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &written));
    }
    SaveAll(settings);
    EXPECT_TRUE(reports.empty());
    for (const auto& f : files) EXPECT_EQ(Exists(f.path), !f.removed) << ToUtf8(f.path);
    EXPECT_TRUE(Exists(stamped(backups + L"\\A.txt")));
    auto lines = historyLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"Removed 2 backups older than 1 day at 12/7/2026 1:05:09 PM");
}

TEST_F(SaveAllRun, ANearlyFullVolumeGetsNoBackupAndOneReport) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    SetFreeSpaceForTests([](const std::wstring&) { return 100ull << 20; });
    SaveAll(settings);
    SetFreeSpaceForTests(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(FirstLine(reports[0]), L"There is not enough free space in " + backups +
                                         L"\\ for a backup: 100 MB free, 200 MB needed. No backup is saved there "
                                         L"until there is room.");
    EXPECT_EQ(calls(L"Document.SaveAs"), 0);
    EXPECT_TRUE(historyLines().empty());
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}
