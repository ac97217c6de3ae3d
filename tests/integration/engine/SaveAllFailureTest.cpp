// Backup runs that meet failures: a save, a copy or a whole Word instance
// that fails, a missing folder, a full volume, and another program at the
// clipboard.  Each is reported once, and the rest of the run goes on.
#include "SaveAllFixture.h"

#include "common/Text.h"
#include "engine/Housekeeping.h"
#include "support/Clipboard.h"
#include "support/Docx.h"
#include "support/Files.h"

#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

namespace {

constexpr wchar_t kLocation[] = L"in Quillbay2021/08/31.SaveWord.SaveAll ";

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
    // A backup document that then cannot be closed is still the run's own:
    // its instance is quit all the same.
    StandIn::SetFault(L"close", {.member = L"Close", .times = 1});
    SaveAll(settings);
    EXPECT_EQ(reports.size(), 3u);
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
    EXPECT_FALSE(PathExists(stamped(backups + L"\\B.txt")));
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
    EXPECT_EQ(settings.spaceSkips, 3);  // the runs that skipped
    EXPECT_EQ(FirstLine(reports.at(0)), L"There is not enough free space in " + backups +
                                         L"\\ for a backup: 20 MB free, 32 MB needed. No backup is saved there "
                                         L"until there is room.");
    EXPECT_EQ(historyLines().size(), 2u);
    EXPECT_TRUE(onlyUserWordLeft(word.pid));
}
