// The window at work beside the user's Word, as only another process sees
// it: one whole backup journey (by the clock and by hand, the countdown, the
// switch and the list) ending with the copied history outliving the
// program, the start-with-Windows entry of the built program, and the
// hand-off to the tray.
#include "E2E.h"

#include <algorithm>
#include <regex>

using namespace e2e;
using remote::Narrow;

namespace {

// Start-up is over once a countdown tick has rewritten Frame2.
void WaitStartedAndTicking(Orvelle& app) {
    ASSERT_TRUE(remote::WaitFor([&] { return app.SecondsLeft().has_value(); }, kStartLimit))
        << Narrow(app.Caption(ids::Frame2));
}

std::vector<std::wstring> HistoryLines(const std::wstring& file) {
    std::vector<std::wstring> lines;
    if (!remote::FileExists(file)) return lines;
    std::wstring text = remote::FromAnsi(remote::ReadBytes(file));
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

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
        remote::Sleep(50ms);
    }
    return std::nullopt;
}

// ---- Backups by the clock and by hand ---------------------------------------------

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
        remote::WriteBytes(paths.back(), d.fileBytes);
    }
    StandIn::UserWord word = StandIn::StartUserWord(paths);
    Seed(L"OftenIndex", L"1");
    Seed(L"Path", box_.backups);
    Orvelle& app = Start();
    WaitStartedAndTicking(app);

    // The countdown shows the seconds left of the 30-second interval, and the
    // bar the seconds gone.
    ASSERT_TRUE(remote::WaitFor(
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
    ASSERT_TRUE(remote::WaitFor([&] { return HistoryLines(box_.HistoryFile()).size() >= 2; }, 90s))
        << "no automatic backup; Frame2: " << Narrow(app.Caption(ids::Frame2));
    auto lines = HistoryLines(box_.HistoryFile());
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(Narrow(lines[i]));
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::wregex(L"(.+) was backup saved as (.+) at (.+)")));
        EXPECT_EQ(m[1].str(), docs[i].name);
        std::wstring backup = m[2].str();
        const std::wstring base = box_.backups + L"\\" + docs[i].name + L" Date ";
        ASSERT_EQ(backup.compare(0, base.size(), base), 0);
        const std::wregex stamp(L"[A-Z][a-z]{2} \\d{1,2} \\d{4} Time \\d\\d \\d\\d \\d\\d (AM|PM)\\.docx");
        EXPECT_TRUE(std::regex_match(backup.substr(base.size()), stamp));
        ASSERT_TRUE(remote::FileExists(backup));
        EXPECT_EQ(ReadDocxText(backup), docs[i].text);
    }
    EXPECT_EQ(remote::FilesIn(box_.backups, L"*.docx").size(), 2u);

    // The count starts again after the run.
    ASSERT_TRUE(remote::WaitFor(
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
    ASSERT_TRUE(remote::WaitFor([&] { return HistoryLines(box_.HistoryFile()).size() >= 4; }, 60s));
    EXPECT_EQ(HistoryLines(box_.HistoryFile()).size(), 4u);
    EXPECT_EQ(remote::FilesIn(box_.backups, L"*.docx").size(), 4u);
    EXPECT_EQ(app.Caption(ids::Frame2), L"Auto Save is Off.");
    EXPECT_EQ(app.Progress().position, stoppedAt);

    // On again: the count resumes where it stopped (a restart would show
    // one second gone).
    app.Click(ids::PushButton4);
    EXPECT_EQ(app.Caption(ids::PushButton4), L"Turn Off Backup Save");
    EXPECT_TRUE(WaitStored(L"BackupSwitch", L"On"));
    ASSERT_TRUE(remote::WaitFor([&] { return app.SecondsLeft().has_value(); }, kActionLimit));
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
    ASSERT_TRUE(remote::WaitFor([&] { return app.Progress().high == 60; }, kActionLimit));
    auto restarted = ReadCountdown(app);
    ASSERT_TRUE(restarted);
    EXPECT_GT(restarted->left, 60 - before) << "the count went on instead of starting over";

    // Next to the documents, overwriting: two runs by hand leave one backup
    // per document beside it, named by the day alone.
    app.Click(ids::Option2);
    app.Click(ids::Option4);
    EXPECT_TRUE(WaitStored(L"WhereOption", L"2"));
    EXPECT_TRUE(WaitStored(L"Backup Option", L"2"));
    const size_t linesBefore = HistoryLines(box_.HistoryFile()).size();
    for (int run = 1; run <= 2; ++run) {
        app.Click(ids::PushButton2);
        ASSERT_TRUE(remote::WaitFor(
            [&] { return HistoryLines(box_.HistoryFile()).size() >= linesBefore + 2 * run; }, 60s));
    }
    auto besides = remote::FilesIn(documents, L"*.docx");
    ASSERT_EQ(besides.size(), 2u);
    for (const Doc& d : docs) {
        auto found = std::find_if(besides.begin(), besides.end(), [&](const std::wstring& name) {
            return name.rfind(d.name + L" ", 0) == 0;
        });
        ASSERT_NE(found, besides.end()) << Narrow(d.name);
        const std::wstring stamp = found->substr(d.name.size() + 1);
        EXPECT_TRUE(std::regex_match(stamp, std::wregex(L"[A-Z][a-z]{2} \\d{1,2} \\d{4}\\.docx"))) << Narrow(*found);
        EXPECT_EQ(ReadDocxText(documents + L"\\" + *found), d.text);
    }

    // The user's documents were only read: nothing saved, pasted into or
    // closed in the user's Word, which is still running.
    auto calls = Word().calls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const StandIn::Call& c) {
        return c.role == L"user" && c.member == L"Range.Copy";
    })) << "the call log saw no copy from the user's Word";
    for (const StandIn::Call& call : calls) {
        if (call.role != L"user") continue;
        for (const wchar_t* writer : {L"Document.SaveAs", L"Document.Close", L"Range.Paste", L"Application.Quit"})
            EXPECT_NE(call.member, writer) << Narrow(call.args);
    }
    EXPECT_EQ(WaitForSingleObject(word.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // The copied history stays on the clipboard after the program has ended.
    ASSERT_TRUE(remote::SetClipboardText(L"held before the copy"));
    app.Click(ids::PushButton5);
    ASSERT_TRUE(app.Close());
    EXPECT_EQ(remote::ClipboardText(), remote::FromAnsi(remote::ReadBytes(box_.HistoryFile())));
}

TEST_F(WindowAtWork, TickingStartWithWindowsWritesTheRunEntryAndUntickingRemovesIt) {
    const std::wstring quoted = L"\"" + box_.exe + L"\"";
    {
        Orvelle& app = Start();
        WaitStartedAndTicking(app);

        app.Click(ids::Check5);
        EXPECT_TRUE(app.Checked(ids::Check5));
        EXPECT_TRUE(WaitStored(L"Windows Startup", L"On"));
        EXPECT_TRUE(remote::WaitFor([&] { return RunEntry() == quoted; }, kActionLimit))
            << Narrow(RunEntry().value_or(L"(none)"));

        app.Click(ids::Check5);
        EXPECT_TRUE(WaitStored(L"Windows Startup", L"Off"));
        EXPECT_TRUE(remote::WaitFor([&] { return !RunEntry(); }, kActionLimit));

        app.Click(ids::Check5);
        EXPECT_TRUE(remote::WaitFor([&] { return RunEntry() == quoted; }, kActionLimit));
        ASSERT_TRUE(app.Close());
    }

    // The next start restores the box without writing the entry again; the
    // next untick removes whatever is there.
    RemoveRunEntries();
    Orvelle& again = Start();
    WaitStartedAndTicking(again);
    EXPECT_TRUE(again.Checked(ids::Check5));
    EXPECT_FALSE(RunEntry());
    remote::reg::SetString(HKEY_CURRENT_USER, kUserRunKey, kProgramFile, quoted);
    again.Click(ids::Check5);
    EXPECT_TRUE(WaitStored(L"Windows Startup", L"Off"));
    EXPECT_TRUE(remote::WaitFor([&] { return !RunEntry(); }, kActionLimit));
}

// ---- Tray hand-off --------------------------------------------------------------------

class TrayHandOff : public E2ETest {
protected:
    static bool WaitBalloon(std::wstring& text) {
        return remote::WaitFor(
            [&] {
                auto balloons = remote::Balloons();
                if (balloons.empty()) return false;
                text = remote::TooltipText(balloons.front());
                return true;
            },
            kActionLimit);
    }
    static void ExpectHandOffBalloon(const std::wstring& text) {
        const std::wstring first = L"has been minimized to the system tray.\r\n";
        EXPECT_EQ(text.compare(0, first.size(), first), 0) << Narrow(text);
        EXPECT_GT(text.size(), first.size() + 10) << "no second sentence: " << Narrow(text);
    }
    // Wine shows a balloon two seconds after it was asked for.
    static void ExpectNoBalloonAppears() {
        remote::Sleep(3500ms);
        EXPECT_TRUE(remote::Balloons().empty());
    }
};

TEST_F(TrayHandOff, MinimisingHidesIntoTheTrayWithOneBalloonPerRun) {
    Orvelle& app = Start();
    WaitStartedAndTicking(app);
    HWND window = app.Window();
    HWND icon = remote::FindTrayIcon(kTitle);
    ASSERT_NE(icon, nullptr);

    remote::PostMinimize(window);
    ASSERT_TRUE(remote::WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    std::wstring text;
    ASSERT_TRUE(WaitBalloon(text));
    ExpectHandOffBalloon(text);

    // A click on the icon brings the window back, also during the balloon.
    remote::ClickTrayIcon(icon);
    ASSERT_TRUE(remote::WaitFor([&] { return remote::Visible(window); }, kActionLimit));
    EXPECT_FALSE(IsIconic(window));
    // The program takes its balloon down after five seconds.
    EXPECT_TRUE(remote::WaitFor([] { return remote::Balloons().empty(); }, 15s));

    // The countdown went on meanwhile.
    EXPECT_TRUE(app.SecondsLeft().has_value());

    remote::PostMinimize(window);
    ASSERT_TRUE(remote::WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    ExpectNoBalloonAppears();

    // The right button restores as well.
    remote::ClickTrayIcon(icon, true);
    ASSERT_TRUE(remote::WaitFor([&] { return remote::Visible(window); }, kActionLimit));

    // Closing removes the icon and ends the program.
    remote::PostClose(window);
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    EXPECT_TRUE(remote::WaitFor([] { return remote::TrayIcons().empty(); }, kActionLimit));
}

TEST_F(TrayHandOff, StartInTrayComesUpHiddenWithItsBalloon) {
    Seed(L"Minimized", L"On");
    Orvelle& app = Start();
    HWND window = app.Window();
    ASSERT_TRUE(remote::WaitFor([&] { return app.Checked(ids::Check8) && !remote::Visible(window); }, kStartLimit));

    std::wstring text;
    ASSERT_TRUE(WaitBalloon(text));
    ExpectHandOffBalloon(text);
    EXPECT_FALSE(remote::Visible(window));
    HWND icon = remote::FindTrayIcon(kTitle);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(app.Checked(ids::Check8));
    EXPECT_EQ(Stored(L"Minimized"), L"On");

    remote::ClickTrayIcon(icon);
    ASSERT_TRUE(remote::WaitFor([&] { return remote::Visible(window); }, kActionLimit));
    // Start-up went on after the hand-off: the countdown ticks.
    EXPECT_TRUE(remote::WaitFor([&] { return app.SecondsLeft().has_value(); }, kStartLimit));

    // That balloon was this run's one.
    EXPECT_TRUE(remote::WaitFor([] { return remote::Balloons().empty(); }, 15s));
    remote::PostMinimize(window);
    ASSERT_TRUE(remote::WaitFor([&] { return !remote::Visible(window); }, kActionLimit));
    ExpectNoBalloonAppears();

    // Closed by the system while hidden in the tray: no dead icon remains.
    remote::PostClose(window);
    EXPECT_TRUE(app.WaitExit(kActionLimit));
    EXPECT_TRUE(remote::WaitFor([] { return remote::TrayIcons().empty(); }, kActionLimit));
}

}  // namespace
