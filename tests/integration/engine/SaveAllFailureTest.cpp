// Backup runs that meet failures: a save, a copy or a whole Word instance
// that fails, a missing folder, a full volume, and another program at the
// clipboard.  Each is reported once, and the rest of the run goes on.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "common/CompleteFile.h"
#include "common/Failure.h"
#include "common/Handle.h"
#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "support/Clipboard.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Paths.h"
#include "support/Thread.h"

#include <atomic>
#include <functional>
#include <optional>
#include <tuple>

namespace {

constexpr wchar_t kLocation[] = L"in Quillbay2021/08/31.SaveWord.SaveAll ";

// Another program's thread: once `when` holds, it does `what` with the
// clipboard; a hold lasts `ms`, or until `until` holds or the test says so.
class OtherProgram {
public:
    enum class Act { Copy, Hold };
    OtherProgram(std::function<bool()> when, Act act, DWORD ms = INFINITE, std::function<bool()> until = {}) {
        thread_ = Thread([this, when = std::move(when), act, ms, until = std::move(until)] {
            while (!when() && !released_) Sleep(10);
            if (act == Act::Copy) return TestClipboard::SetUnicodeText(L"copied by another program");
            OpenClipboard(nullptr);
            held_ = true;
            for (DWORD start = GetTickCount(); !released_ && !(until && until()) && GetTickCount() - start < ms;) Sleep(10);
            CloseClipboard();
        });
    }
    ~OtherProgram() { release(); }
    void release() {
        released_ = true;
        thread_.join();
    }
    bool held() const { return held_; }

private:
    Thread thread_;
    std::atomic<bool> released_{false}, held_{false};
};

// Another program that opens each new file in a folder the moment its
// writer lets go, and holds it for a while without FILE_SHARE_DELETE, as
// scanners, indexers and sync clients do.
class Scanner {
public:
    Scanner(const std::wstring& folder, DWORD holdMs) : thread_([this, folder, holdMs] { watch(folder, holdMs); }) {}
    ~Scanner() { stopped_ = true, thread_.join(); }
    std::atomic<int> unfinishedTaken{0};

private:
    void watch(const std::wstring& folder, DWORD holdMs) {
        UniqueFile directory(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::vector<std::pair<UniqueFile, ULONGLONG>> held;
        alignas(DWORD) char buffer[16384];
        for (OVERLAPPED o{.hEvent = event.get()}; !stopped_; ResetEvent(event.get()), o = {.hEvent = event.get()}) {
            DWORD bytes = 0;
            ReadDirectoryChangesW(directory.get(), buffer, sizeof buffer, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &o, nullptr);
            while (!stopped_ && WaitForSingleObject(event.get(), 10) == WAIT_TIMEOUT)
                std::erase_if(held, [&](const auto& h) { return GetTickCount64() - h.second >= holdMs; });
            if (stopped_ || !GetOverlappedResult(directory.get(), &o, &bytes, TRUE)) return (void)CancelIo(directory.get());
            for (char* at = buffer; bytes > 0;) {
                const auto* n = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(at);
                const std::wstring name(n->FileName, n->FileNameLength / sizeof(wchar_t));
                // Tried until its writer closes it (or it is gone).
                for (ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 200;) {
                    UniqueFile file(CreateFileW((folder + L"\\" + name).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
                    if (file) unfinishedTaken += IsUnfinishedFileName(name), held.emplace_back(std::move(file), GetTickCount64());
                    if (file || GetLastError() != ERROR_SHARING_VIOLATION) break;
                }
                if (n->NextEntryOffset == 0) break;
                at += n->NextEntryOffset;
            }
        }
    }

    std::atomic<bool> stopped_{false};
    Thread thread_;
};

}  // namespace

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

// A folder that takes no backup (a stick pulled out, a read-only volume) is
// reported once, then noted, until a backup is written there again.
TEST_F(SaveAllRun, AFolderThatRefusesWritingIsReportedOnceUntilABackupIsWrittenThere) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    const std::wstring gone = backups + L"\\gone";  // a stick pulled out
    settings.folder = gone;
    using Run = std::tuple<bool, size_t, size_t, int>;  // the folder there; reports, lines and notes so far
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic ? "the classic way" : "the package way");
        settings.clipboardCopy = classic;
        settings.notes.clear();
        reports.clear();
        DeleteFileW(settings.history.c_str());
        // A backup document that then cannot be closed is still the run's
        // own: its instance is quit all the same.
        if (classic) StandIn::SetFault(L"close", {.member = L"Close", .times = 1});
        BackupRun fresh;
        for (const auto& [there, said, lines, notes] :
             {Run{false, 1, 0, 1}, Run{false, 1, 0, 2}, Run{true, 1, 2, 2}, Run{false, 2, 2, 3}}) {
            for (const wchar_t* name : {L"A.txt", L"B.txt"}) DeleteFileW(stamped(gone + L"\\" + name).c_str());
            RemoveDirectoryW(gone.c_str());
            if (there) CreateDirectoryW(gone.c_str(), nullptr);
            fresh.SaveAll(settings.options(), settings);
            EXPECT_EQ(reports.size(), said + classic);
            EXPECT_EQ(historyLines().size(), lines);
            EXPECT_EQ(settings.noted(RunNote::FolderRefusedWriting), notes);
        }
        EXPECT_EQ(FirstLine(reports.front()), L"Backups cannot be written in " + gone + L"\\: " +
                                                  SystemMessage(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) +
                                                  L" No backup is saved there until one can be written there again.");
        EXPECT_TRUE(onlyUserWordLeft(word.pid));
    }

    // Two folders that refuse in one run: a box for each.
    StandIn::KillAllStandIns();
    auto unsaved = StandIn::StartUserWord({}, {L"U1", L"U2"});
    struct Answers : TestSettings {
        std::wstring folder;
        int asked = 0;
        std::wstring AskForFolder(const std::wstring&) override { return folder + std::to_wstring(++asked); }
    } answers;
    static_cast<TestSettings&>(answers) = settings;
    answers.beside = true, answers.fixed = false, answers.clipboardCopy = false, answers.folder = backups + L"\\gone";
    reports.clear();
    BackupRun().SaveAll(answers.options(), answers);
    ASSERT_EQ(reports.size(), 2u);
    for (int i : {0, 1})
        EXPECT_EQ(reports[i].find(L"Backups cannot be written in " + answers.folder + std::to_wstring(i + 1) + L"\\: "), 0u);

    // A document on a read-only volume, backed up beside it: once, whichever way.
    const std::wstring readOnly = StagedVolume(L"readonly");
    if (readOnly.empty()) GTEST_SKIP() << "no read-only volume staged (mounting needs root)";
    StandIn::KillAllStandIns();
    auto onVolume = StandIn::StartUserWord({readOnly + L"\\staged"});
    settings.beside = true, settings.fixed = false;
    reports.clear();
    const size_t lines = historyLines().size();
    for (bool classic : {false, true, true}) settings.clipboardCopy = classic, SaveAll(settings);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports.front().find(L"Backups cannot be written in " + readOnly + L"\\: "), 0u);
    EXPECT_EQ(historyLines().size(), lines);
}

TEST_F(SaveAllRun, AFailedCopyNeverSavesOlderClipboardContent) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    TestClipboard::SetUnicodeText(L"stale content");
    StandIn::SetFault(L"copy", {.member = L"Copy", .document = L"B.txt"});
    SaveAll(settings);
    ASSERT_GE(reports.size(), 1u);
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a");
    EXPECT_FALSE(PathExists(stamped(backups + L"\\B.txt")));
    ASSERT_EQ(historyLines().size(), 1u);
    EXPECT_EQ(TestClipboard::UnicodeText(), L"stale content");  // and the user's clipboard is back
}

TEST_F(SaveAllRun, ACopyMadeByAnotherProgramIsNeverSavedAndTheNewestCopyStays) {
    // A moment in which another program copies: between a Copy and its Paste, after the run's
    // last Copy, and milliseconds after Word's copy (a clipboard manager), once or every time.
    const struct {
        StandIn::Fault pause;
        int answers;  // copies another process answers; 0: a thread of ours copies once
        size_t reports, lines;
    } cases[] = {
        {{.member = L"Paste", .action = L"slow", .milliseconds = 1500, .times = 1, .role = L"created"}, 0, 0, 2},
        {{.member = L"DisplayAlerts", .action = L"slow", .milliseconds = 1500, .call = 2, .times = 1}, 0, 0, 2},
        {{.member = L"Copy", .action = L"linger", .milliseconds = 1000, .times = 1}, 1, 0, 2},
        {{.member = L"Copy", .action = L"linger", .milliseconds = 300}, -1, 1, 0},
    };
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    for (const auto& c : cases) {
        reports.clear();
        DeleteFileW(settings.history.c_str());
        TestClipboard::SetUnicodeText(L"the user's own clipboard");
        const std::wstring name = L"pause " + c.pause.member;
        StandIn::SetFault(name, c.pause);
        if (c.answers) StandIn::StartAnswerer(L"copied by another program", c.answers);
        // The fault counts every matching call: the pause is the call-th.
        std::optional<OtherProgram> other;
        if (!c.answers) other.emplace([&] { return StandIn::FaultSeen(name) >= c.pause.call; }, OtherProgram::Act::Copy);
        SaveAll(settings);
        other.reset();
        ASSERT_EQ(reports.size(), c.reports) << ToUtf8(name);
        ASSERT_EQ(historyLines().size(), c.lines) << ToUtf8(name);
        if (c.lines) {
            EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a") << ToUtf8(name);
            EXPECT_EQ(ReadDocxText(stamped(backups + L"\\B.txt")), L"b") << ToUtf8(name);
        }
        // The other program's copy is newer than the user's: it is what stays.
        EXPECT_EQ(TestClipboard::UnicodeText(), L"copied by another program") << ToUtf8(name);
    }
}

TEST_F(SaveAllRun, AClipboardHeldByAnotherProgramIsWaitedForThenReportedOnce) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")});
    // The second FullName the user's Word is asked is the second document's
    // first call; the first Paste of a created instance is the first backup's.
    const StandIn::Fault secondDocument{.member = L"FullName", .action = L"slow", .milliseconds = 1000, .call = 2,
                                        .times = 1, .role = L"user"};
    const StandIn::Fault firstPaste{.member = L"Paste", .action = L"linger", .milliseconds = 1500, .times = 1,
                                    .role = L"created"};
    const struct {
        const char* when;
        const StandIn::Fault* pause;  // none: as the run starts
        DWORD holdMs;
        bool untilSaved;
        size_t reports, lines;
        int creations;
    } cases[] = {
        {"as the run starts, briefly", nullptr, 1500, false, 0, 3, 2},
        {"as the run starts, for 5 s", nullptr, 5000, false, 1, 0, 0},
        {"as the run starts, throughout", nullptr, INFINITE, false, 1, 0, 0},
        {"after the first backup, throughout", &secondDocument, INFINITE, false, 1, 1, 2},
        // Unless unchanged documents are skipped, nothing reads it there.
        {"after a paste, until its save", &firstPaste, INFINITE, true, 0, 3, 2},
    };
    for (const auto& c : cases) {
        reports.clear();
        DeleteFileW(settings.history.c_str());
        const int creationsBefore = calls(L"ClassFactory.CreateInstance");
        TestClipboard::SetUnicodeText(L"the user's own clipboard");
        // A pause lets the other program take the clipboard: half a second into it.
        const std::wstring pause = L"pause " + FromUtf8(c.when);
        if (c.pause) StandIn::SetFault(pause, *c.pause);
        StandIn::SetFault(L"saves", {.member = L"SaveAs", .action = L"linger"});
        OtherProgram other([&] { return !c.pause || (StandIn::FaultSeen(pause) >= c.pause->call && (Sleep(500), true)); },
                           OtherProgram::Act::Hold, c.holdMs,
                           [&] { return c.untilSaved && StandIn::FaultSeen(L"saves") > 0; });
        while (!c.pause && !other.held()) Sleep(5);
        SaveAll(settings);
        other.release();
        ASSERT_EQ(reports.size(), c.reports) << c.when;
        if (c.reports) {
            EXPECT_NE(FirstLine(reports[0]).find(L"in use by another program"), std::wstring::npos);
        }
        EXPECT_EQ(historyLines().size(), c.lines) << c.when;
        EXPECT_EQ(calls(L"ClassFactory.CreateInstance") - creationsBefore, c.creations) << c.when;
        EXPECT_TRUE(onlyUserWordLeft(word.pid)) << c.when;
        if (!c.pause || !c.reports) {
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

TEST_F(SaveAllRun, ANearlyFullVolumeIsReportedOnceUntilABackupFitsThereAgain) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b")});
    std::uint64_t free = 0;
    services.freeSpace = [&](const std::wstring&) { return free; };
    using Run = std::tuple<std::uint64_t, size_t, int>;  // free space, reports so far, saves so far
    for (const auto& [space, said, saved] :
         {Run{20 << 20, 1, 0}, Run{20 << 20, 1, 0}, Run{33 << 20, 1, 2}, Run{20 << 20, 2, 2}}) {
        free = space;
        SaveAll(settings);
        EXPECT_EQ(reports.size(), said);
        EXPECT_EQ(calls(L"Document.SaveAs"), saved);
    }
    EXPECT_EQ(settings.noted(RunNote::NotEnoughSpace), 3);  // the runs that skipped
    EXPECT_EQ(FirstLine(reports.at(0)), L"There is not enough free space in " + backups +
                                         L"\\ for a backup: 20 MB free, 32 MB needed. No backup is saved there "
                                         L"until there is room.");
    EXPECT_EQ(historyLines().size(), 2u);
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}

TEST_F(SaveAllRun, NothingIsLostWhileOtherProgramsHoldNewFilesOldBackupsOrTheDaysBackup) {
    settings.clipboardCopy = false;
    std::vector<std::wstring> documents;
    for (int i = 0; i < 8; ++i) documents.push_back(doc(L"D" + std::to_wstring(i) + L".txt", L"text"));
    auto word = StandIn::StartUserWord(documents);
    // Held as Word holds a file the user opened.
    auto holdIf = [](bool held, const std::wstring& path) {
        return UniqueFile(held ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE);
    };
    {
        // Every new file taken the moment it is let go: retried, never lost.
        Scanner scanner(backups, 300);
        SaveAll(settings);
        EXPECT_GT(scanner.unfinishedTaken, 0) << "the scanner never won the race";
    }
    for (const std::wstring& d : documents)
        EXPECT_TRUE(PathExists(stamped(backups + d.substr(d.find_last_of(L'\\'))))) << ToUtf8(d);

    // An old backup held for longer than the retry bound stays for a later run, without a box.
    settings.keepDays = 1;
    const std::wstring old = WriteAgedFile(backups + L"\\D0.txt Date Dec 1 2026 Time 09 00 00 AM.docx", 3 * 24 * 60);
    journalNames(old, documents[0]);
    for (bool held : {true, false}) {
        UniqueFile holder = holdIf(held, old);
        SaveAll(settings);
        EXPECT_EQ(PathExists(old), held);
    }

    // The day's backup open in Word past the bound: the content goes to the
    // next name, which the history line names; once it is let go, the day's
    // name is written again.  Written by us, then by Word's own SaveAs.
    settings.newFile = false;
    const std::wstring day = backups + L"\\D0.txt Dec 7 2026.docx";
    SaveAll(settings);
    for (bool classic : {false, true})
        for (bool held : {true, false}) {
            settings.clipboardCopy = classic;
            const std::wstring text = std::wstring(classic ? L"classic, " : L"") + (held ? L"while held" : L"let go");
            Dispatch::GetActive(kWordProgId).get(L"Documents").toDispatch().call(L"Item", {1}).toDispatch()
                .get(L"Range").toDispatch().put(L"Text", text);
            UniqueFile holder = holdIf(held, day);
            SaveAll(settings);
            holder.reset();
            const std::wstring written = held ? backups + L"\\D0.txt Dec 7 2026 (2).docx" : day;
            EXPECT_EQ(ReadDocxText(written), text);
            EXPECT_EQ(historyLines()[historyLines().size() - 8].find(L"D0.txt was backup saved as " + written + L" at "), 0u);
        }
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(std::ranges::none_of(FileNamesIn(backups), IsUnfinishedFileName));
}
