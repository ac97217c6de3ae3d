// Backup runs that ask for a folder: a never-saved document in the mode that
// saves beside each document, the real folder dialog driven from a second
// thread, and what may happen while it is open.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "support/Clipboard.h"
#include "support/Docx.h"
#include "support/FolderDialog.h"
#include "support/Thread.h"

#include <algorithm>
#include <memory>

TEST_F(SaveAllRun, NeverSavedDocumentInSameFolderModeAsksUntilAFolderIsChosen) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    settings.beside = true;
    settings.fixed = false;
    std::wstring chosen = backups;
    folder_dialog::Driver cancel(owner, IDCANCEL, nullptr);
    std::unique_ptr<folder_dialog::Driver> choose;
    // The second dialog comes after the first is cancelled.
    Thread second([&] {
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

TEST_F(SaveAllRun, AWindowClosingDuringTheRunGetsBothInstancesQuitAndTheClipboardBack) {
    auto word = StandIn::StartUserWord({}, {L"Document5"});
    settings.beside = true;
    settings.fixed = false;
    TestClipboard::SetUnicodeText(L"the user's own clipboard");
    static int quitsWhenFinished = -1;
    static const StandIn::Session* standIns = nullptr;
    static BackupRun* theRun = nullptr;
    standIns = &session;
    theRun = &run;
    // The close arrives while the picker is open.
    UINT_PTR timer = SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        theRun->FinishRunNow();
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
    EXPECT_FALSE(run.running());
}

TEST_F(SaveAllRun, ASecondRunDuringTheFolderPickerIsIgnored) {
    auto word = StandIn::StartUserWord({}, {L"Document4"});
    settings.beside = true;
    settings.fixed = false;
    static TestSettings* current = nullptr;
    static decltype(this) self = nullptr;
    static int nestedCalls = 0;
    current = &settings;
    self = this;
    nestedCalls = 0;
    // A timer tick while the picker is open starts another run, as the
    // scheduler or the test button would; and the user switches to
    // overwrite mode meanwhile.
    UINT_PTR timer = SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR, DWORD) {
        ++nestedCalls;
        EXPECT_TRUE(self->run.running());
        current->newFile = false;
        self->SaveAll(*current);
        // Word closing a document meanwhile: that backup is the run's.
        Dispatch app = Dispatch::GetActive(kWordProgId);
        EXPECT_EQ(self->run.BackUpOne(app, app.get(L"Documents", {1}).toDispatch(), current->options(), *current).outcome,
                  RunOutcome::AlreadyRunning);
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
    EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Document4")), StandIn::UnsavedText(L"Document4"))
        << "the run keeps the mode it started with";
    EXPECT_FALSE(run.running());

    // One document alone never asks for a folder; given one, it answers what it wrote.
    Dispatch app = Dispatch::GetActive(kWordProgId), document = app.get(L"Documents", {1}).toDispatch();
    EXPECT_FALSE(run.BackUpOne(app, document, settings.options(), settings).written);
    settings.beside = false, settings.fixed = true;
    const OneBackup one = run.BackUpOne(app, document, settings.options(), settings);
    ASSERT_TRUE(one.written);
    EXPECT_EQ(one.written->path, backups + L"\\Document4 Dec 7 2026.docx");
    EXPECT_EQ(historyLines().size(), 2u);
}
