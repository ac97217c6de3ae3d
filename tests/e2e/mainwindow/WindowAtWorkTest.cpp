// The window at work beside the user's Word, as only another process sees
// it: one whole backup journey (by the clock and by hand, the countdown, the
// switch and the list) ending with the copied history outliving the
// program, and the start-with-Windows entry of the built program.
#include "common/Text.h"
#include "e2e/support/E2E.h"
#include "support/Clipboard.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Registry.h"

#include <algorithm>
#include <regex>

using namespace e2e;

namespace {

// A countdown caption and the bar read as one consistent state.
struct Countdown {
    int left;
    remote::Progress bar;
};
std::optional<Countdown> ReadCountdown(Orvelle& app) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto before = app.SecondsLeft();
        auto bar = app.Progress();
        auto after = app.SecondsLeft();
        if (before && before == after) return Countdown{*before, bar};
        Sleep(50);
    }
    return std::nullopt;
}

class WindowAtWork : public E2ETest {};

TEST_F(WindowAtWork, BacksUpByItselfCountsDownAndObeysTheSwitchTheTestButtonAndTheList) {
    const std::wstring documents = box_.root + L"Documents";
    CreateDirectoryW(documents.c_str(), nullptr);
    struct Doc {
        std::wstring name;
        std::string fileBytes;  // UTF-8 text file
        std::wstring text;      // the document's paragraphs, one a line
    };
    const Doc docs[] = {
        {L"Alpha report.txt", "First paragraph of the report.\r\nSecond one, \xC3\xA4 and \xE2\x82\xAC.\r\n",
         L"First paragraph of the report.\nSecond one, \u00E4 and \u20AC."},
        {L"Beta.txt", "Just one line\r\n", L"Just one line"},
    };
    std::vector<std::wstring> paths;
    for (const Doc& d : docs) {
        paths.push_back(documents + L"\\" + d.name);
        WriteFileBytes(paths.back(), d.fileBytes);
    }
    StandIn::UserWord word = StandIn::StartUserWord(paths);
    Seed(L"OftenIndex", L"1");
    Seed(L"Path", box_.backups);
    Orvelle& app = Start();
    ASSERT_TRUE(app.WaitFirstTick()) << ToUtf8(app.Caption(ids::Frame2));

    // The countdown shows the seconds left of the 30-second interval, and the
    // bar the seconds gone.
    ASSERT_TRUE(WaitFor(
        [&] {
            auto left = app.SecondsLeft();
            return left && *left >= 20 && *left <= 29;
        },
        kActionLimit));
    auto count = ReadCountdown(app);
    ASSERT_TRUE(count);
    EXPECT_EQ(count->bar.high, 30);
    EXPECT_EQ(count->left + count->bar.position, 30);

    // The automatic backup: one file per document, holding its text, and one
    // history line each, in the order of Word's documents.
    ASSERT_TRUE(WaitFor([&] { return ReadAnsiLines(box_.HistoryFile()).size() >= 2; }, 90s))
        << "no automatic backup; Frame2: " << ToUtf8(app.Caption(ids::Frame2));
    auto lines = ReadAnsiLines(box_.HistoryFile());
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(ToUtf8(lines[i]));
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::wregex(L"(.+) was backup saved as (.+) at (.+)")));
        EXPECT_EQ(m[1].str(), docs[i].name);
        std::wstring backup = m[2].str();
        const std::wstring base = box_.backups + L"\\" + docs[i].name + L" Date ";
        ASSERT_EQ(backup.compare(0, base.size(), base), 0);
        const std::wregex stamp(L"[A-Z][a-z]{2} \\d{1,2} \\d{4} Time \\d\\d \\d\\d \\d\\d (AM|PM)\\.docx");
        EXPECT_TRUE(std::regex_match(backup.substr(base.size()), stamp));
        ASSERT_TRUE(PathExists(backup));
        EXPECT_EQ(ReadDocxText(backup), docs[i].text);
    }
    EXPECT_EQ(FileNamesIn(box_.backups, L"*.docx").size(), 2u);

    // The count starts again after the run.
    ASSERT_TRUE(WaitFor(
        [&] {
            auto c = ReadCountdown(app);
            return c && c->bar.position >= 12 && c->bar.position <= 25;
        },
        45s));

    // Off: the count stops where it is.
    app.Click(ids::PushButton4);
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn On Backup Save");
    EXPECT_EQ(app.Caption(ids::Frame2), L"Auto Save is Off.");
    EXPECT_TRUE(WaitStored(L"BackupSwitch", L"Off"));
    const int stoppedAt = app.Progress().position;

    // The test button backs up at once and leaves the countdown alone.
    app.Click(ids::PushButton2);
    ASSERT_TRUE(WaitFor([&] { return ReadAnsiLines(box_.HistoryFile()).size() >= 4; }, 60s));
    EXPECT_EQ(ReadAnsiLines(box_.HistoryFile()).size(), 4u);
    EXPECT_EQ(FileNamesIn(box_.backups, L"*.docx").size(), 4u);
    EXPECT_EQ(app.Caption(ids::Frame2), L"Auto Save is Off.");
    EXPECT_EQ(app.Progress().position, stoppedAt);

    // On again: the count resumes where it stopped (a restart would show
    // one second gone).
    app.Click(ids::PushButton4);
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn Off Backup Save");
    EXPECT_TRUE(WaitStored(L"BackupSwitch", L"On"));
    ASSERT_TRUE(WaitFor([&] { return app.SecondsLeft().has_value(); }, kActionLimit));
    auto resumed = ReadCountdown(app);
    ASSERT_TRUE(resumed);
    EXPECT_GT(30 - resumed->left, stoppedAt) << "the count started over";

    // A click on the list sets the interval and starts the count over; with
    // the switch off in between, the next tick shows it.
    app.Click(ids::PushButton4);
    ASSERT_EQ(app.Caption(ids::Frame2), L"Auto Save is Off.");
    const int before = app.Progress().position;
    app.ClickInterval(2);
    EXPECT_TRUE(WaitStored(L"OftenIndex", L"2"));
    EXPECT_EQ(app.SelectedInterval(), 2);
    app.Click(ids::PushButton4);
    ASSERT_TRUE(WaitFor([&] { return app.Progress().high == 60; }, kActionLimit));
    auto restarted = ReadCountdown(app);
    ASSERT_TRUE(restarted);
    EXPECT_GT(restarted->left, 60 - before) << "the count went on instead of starting over";

    // Next to the documents, overwriting: two runs by hand leave one backup
    // per document beside it, named by the day alone.
    app.Click(ids::Option2);
    app.Click(ids::Option4);
    EXPECT_TRUE(WaitStored(L"WhereOption", L"2"));
    EXPECT_TRUE(WaitStored(L"Backup Option", L"2"));
    const size_t linesBefore = ReadAnsiLines(box_.HistoryFile()).size();
    for (int run = 1; run <= 2; ++run) {
        app.Click(ids::PushButton2);
        ASSERT_TRUE(WaitFor(
            [&] { return ReadAnsiLines(box_.HistoryFile()).size() >= linesBefore + 2 * run; }, 60s));
    }
    auto besides = FileNamesIn(documents, L"*.docx");
    ASSERT_EQ(besides.size(), 2u);
    for (const Doc& d : docs) {
        auto found = std::find_if(besides.begin(), besides.end(), [&](const std::wstring& name) {
            return name.rfind(d.name + L" ", 0) == 0;
        });
        ASSERT_NE(found, besides.end()) << ToUtf8(d.name);
        const std::wstring stamp = found->substr(d.name.size() + 1);
        EXPECT_TRUE(std::regex_match(stamp, std::wregex(L"[A-Z][a-z]{2} \\d{1,2} \\d{4}\\.docx"))) << ToUtf8(*found);
        EXPECT_EQ(ReadDocxText(documents + L"\\" + *found), d.text);
    }

    // The user's documents were only read: nothing saved, pasted into or
    // closed in the user's Word, which is still running.
    auto calls = Word().calls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const StandIn::Call& c) {
        return c.role == L"user" && c.member == L"Document.WordOpenXML";
    })) << "the call log saw no package read in the user's Word";
    for (const StandIn::Call& call : calls) {
        if (call.role != L"user") continue;
        for (const wchar_t* writer : {L"Document.SaveAs", L"Document.Close", L"Range.Paste", L"Application.Quit"})
            EXPECT_NE(call.member, writer) << ToUtf8(call.args);
    }
    EXPECT_EQ(WaitForSingleObject(word.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // The copied history stays on the clipboard after the program has ended.
    TestClipboard::SetUnicodeText(L"held before the copy");
    app.Click(ids::PushButton5);
    ASSERT_TRUE(app.Close());
    EXPECT_EQ(TestClipboard::Text(), FromAnsi(ReadFileBytes(box_.HistoryFile())));
}

TEST_F(WindowAtWork, TickingStartWithWindowsWritesTheRunEntryAndUntickingRemovesIt) {
    const std::wstring quoted = L"\"" + box_.exe + L"\"";
    {
        Orvelle& app = Start();
        ASSERT_TRUE(app.WaitFirstTick()) << ToUtf8(app.Caption(ids::Frame2));

        app.Click(ids::Check5);
        EXPECT_TRUE(app.Checked(ids::Check5));
        EXPECT_TRUE(WaitStored(L"Windows Startup", L"On"));
        EXPECT_TRUE(WaitFor([&] { return RunEntry() == quoted; }, kActionLimit))
            << ToUtf8(RunEntry().value_or(L"(none)"));

        app.Click(ids::Check5);
        EXPECT_TRUE(WaitStored(L"Windows Startup", L"Off"));
        EXPECT_TRUE(WaitFor([&] { return !RunEntry(); }, kActionLimit));

        app.Click(ids::Check5);
        EXPECT_TRUE(WaitFor([&] { return RunEntry() == quoted; }, kActionLimit));
        ASSERT_TRUE(app.Close());
    }

    // The next start restores the box without writing the entry again; the
    // next untick removes whatever is there.
    RemoveRunEntries();
    Orvelle& again = Start();
    ASSERT_TRUE(again.WaitFirstTick()) << ToUtf8(again.Caption(ids::Frame2));
    EXPECT_TRUE(again.Checked(ids::Check5));
    EXPECT_FALSE(RunEntry());
    reg::SetString(HKEY_CURRENT_USER, kUserRunKey, kProgramFile, quoted);
    again.Click(ids::Check5);
    EXPECT_TRUE(WaitStored(L"Windows Startup", L"Off"));
    EXPECT_TRUE(WaitFor([&] { return !RunEntry(); }, kActionLimit));
}

}  // namespace
