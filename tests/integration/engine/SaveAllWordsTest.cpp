// Every Word on the desk, and only what changed: a second Word's documents
// are backed up like the first one's and a program's Word is left alone; a
// saved package is copied from its file, a changed one still comes from Word.
#include "SaveAllFixture.h"

#include "common/Automation.h"
#include "common/ComObject.h"
#include "common/MonotonicClock.h"
#include "common/SlimLock.h"
#include "common/Text.h"
#include "engine/WordDocument.h"
#include "engine/WordEvents.h"
#include "engine/WordInstances.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Thread.h"
#include "support/Wait.h"
#include "support/WindowLookup.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <utility>

TEST_F(SaveAllRun, EveryWordOfTheUserIsBackedUpAndAProgramsWordIsNot) {
    auto first = StandIn::StartUserWord({doc(L"A.txt", L"a")}, {L"Document1"});
    // Started later: not the active object, and only never-saved documents.
    auto second = StandIn::StartUserWord({}, {L"Document1", L"Notes"});
    auto program = StandIn::StartHiddenWord({doc(L"H.txt", L"h")});
    // The active Word's windows do not answer: it is asked for its process.
    StandIn::SetFault(L"mute", {.member = L"Window.WM_GETOBJECT", .process = first.pid});
    const std::wstring draft = stamped(backups + L"\\Document1"), other = draft.substr(0, draft.size() - 5) + L" (2).docx";
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic ? "the classic way" : "the package way");
        settings.clipboardCopy = classic;
        settings.told.clear();
        DeleteFileW(settings.history.c_str());
        EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ReadDocxText(stamped(backups + L"\\A.txt")), L"a");
        EXPECT_EQ(ReadDocxText(draft), StandIn::UnsavedText(L"Document1"));
        EXPECT_EQ(ReadDocxText(other), StandIn::UnsavedText(L"Document1"));
        EXPECT_EQ(ReadDocxText(stamped(backups + L"\\Notes")), StandIn::UnsavedText(L"Notes"));
        EXPECT_FALSE(PathExists(stamped(backups + L"\\H.txt")));
        EXPECT_EQ(historyLines().size(), 4u);
        // Each backup knows its Word's process, and whether Word said it was saved.
        std::vector<std::pair<DWORD, bool>> told;
        for (const SavedBackup& backup : settings.told) told.emplace_back(backup.process.id, backup.savedInWord);
        EXPECT_EQ(told, (std::vector<std::pair<DWORD, bool>>{
                            {first.pid, true}, {first.pid, false}, {second.pid, false}, {second.pid, false}}));
        EXPECT_NE(settings.told.front().process.started, 0u);
    }
    for (DWORD pid : StandIn::RunningStandIns())
        EXPECT_TRUE(pid == first.pid || pid == second.pid || pid == program.pid || StandIn::WaitForExit(pid, 15000));

    // Found again by identity alone: a never-saved one in its own Word only.
    for (DWORD pid : {first.pid, second.pid}) {
        const std::optional<OpenDocument> draft = FindOpenDocument({L"Document1", true, ProcessOf(pid)});
        ASSERT_TRUE(draft);
        EXPECT_EQ(ProcessOfWord(draft->word).id, pid);
    }
    EXPECT_FALSE(FindOpenDocument({L"Notes", true, ProcessOf(first.pid)}));
    const std::wstring a = session.folder().file(L"A.txt");
    EXPECT_EQ(FindOpenDocument(IdentityOf(UpperCase(a), {}))->fullName, a);

    // A Word that dies costs only its own documents.
    reports.clear();
    DeleteFileW(settings.history.c_str());
    StandIn::SetFault(L"die", {.member = L"Saved", .action = L"die", .document = L"A.txt"});
    SaveAll(settings);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(historyLines().size(), 2u);
    EXPECT_TRUE(StandIn::WaitForExit(first.pid, 5000));
}

TEST_F(SaveAllRun, WorkThatWordClosedUnsavedIsToldOnceWithItsNewestBackup) {
    settings.clipboardCopy = false;
    // A document on the web has no file to show that it was saved.
    auto word = StandIn::StartRichUserWord({{doc(L"A.txt", L"a")}, {L"Draft", {}, {}, true}, {L"Notes", {}, {}, true},
                                            {doc(L"Web.txt", L"w"), {}, {}, false, L"https://contoso.com/Docs", false,
                                             false, true}});
    auto newestOf = [&](const std::wstring& name) {
        auto at = std::ranges::find_if(settings.saved.rbegin(), settings.saved.rend(),
                                       [&](const std::wstring& path) { return path.find(name) != path.npos; });
        return at == settings.saved.rend() ? std::wstring() : *at;
    };
    auto closed = [&] {
        std::vector<std::wstring> told;
        for (const ClosedDocument& d : std::exchange(settings.closed, {})) told.push_back(d.name + L" " + d.backupPath);
        return told;
    };
    // Listened to as the window does: a changed document is backed up at its close.
    struct AtClose : WordEventsHandler {
        std::function<void(const ListenedWord&, const Dispatch&)> closing;
        void DocumentClosing(const ListenedWord& word, const Dispatch& document) override { closing(word, document); }
        void WordQuitting(const ListenedWord&) override {}
    } atClose;
    atClose.closing = [&](const ListenedWord& word, const Dispatch& document) {
        if (!document.get(L"Saved").toBool()) run.BackUpOne(word.app, document, settings.options(), settings);
    };
    WordListeners listeners(atClose);
    const Dispatch app = Dispatch::GetActive(kWordProgId);
    FoundWord found{app, nullptr, {}, true};
    app.raw()->QueryInterface(IID_PPV_ARGS(&found.identity));
    ASSERT_TRUE(listeners.listen(found));
    Dispatch documents = app.get(L"Documents").toDispatch();
    documents.call(L"Item", {1}).toDispatch().get(L"Range").toDispatch().put(L"Text", L"a, changed");
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_TRUE(closed().empty());

    // "Don't Save" on Draft, typed in since the run, while A.txt and Web.txt
    // are saved, then closed; then Word ends with Notes.  A.txt and Web.txt
    // are no loss, and each closing is told once, Draft's with the backup
    // taken at its close.
    Dispatch web = documents.call(L"Item", {2}).toDispatch();  // files come before never-saved documents
    web.call(L"Save");
    web.call(L"Close", {false});
    Dispatch draftDocument = documents.call(L"Item", {2}).toDispatch();
    draftDocument.get(L"Range").toDispatch().put(L"Text", L"typed after the run");
    draftDocument.call(L"Close", {false});
    EXPECT_EQ(ReadDocxText(newestOf(L"Draft")), L"typed after the run");
    Dispatch a = documents.call(L"Item", {1}).toDispatch();
    a.call(L"Save");
    a.call(L"Close", {false});
    const std::wstring draft = newestOf(L"Draft");
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(closed(), std::vector<std::wstring>{L"Draft " + draft});
    TerminateProcess(word.process.get(), 1);
    ASSERT_TRUE(StandIn::WaitForExit(word.pid, 5000));
    EXPECT_EQ(SaveAll(settings), RunOutcome::NoWord);
    EXPECT_EQ(closed(), std::vector<std::wstring>{L"Notes " + newestOf(L"Notes")});
    EXPECT_EQ(SaveAll(settings), RunOutcome::NoWord);
    EXPECT_TRUE(closed().empty());
}

TEST_F(SaveAllRun, ASavedPackageIsCopiedFromItsFileAndAChangedOneComesFromWord) {
    settings.clipboardCopy = false;
    settings.skipUnchanged = true;
    const std::wstring saved = session.folder().file(L"Saved.docx"), macros = session.folder().file(L"Macros.DOCM"),
                       locked = session.folder().file(L"Locked.docx"), changed = session.folder().file(L"Changed.docx");
    WriteWordPackage(saved, "saved \xE6\x97\xA5\xE6\x9C\xAC");
    WriteWordPackage(macros, "with macros");
    // Word's encryption of a password-protected package: an OLE compound file.
    std::string compound(4 * 512, '\0');
    compound.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    compound[30] = 9;  // 512-byte sectors
    WriteFileBytes(locked, compound);
    WriteWordPackage(changed, "before");
    const std::wstring text = doc(L"Notes.txt", L"n");
    auto word = StandIn::StartRichUserWord({{saved}, {macros}, {locked, {}, {}, false, {}, true},
                                            {changed, {}, {}, false, {}, false, false, true}, {text}});
    const std::wstring macroBackup = stamped(backups + L"\\Macros.DOCM");
    auto backupOf = [&](const std::wstring& name) { return stamped(backups + L"\\" + name); };

    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ReadFileBytes(backupOf(L"Saved.docx")), ReadFileBytes(saved));
    EXPECT_EQ(ReadFileBytes(macroBackup.substr(0, macroBackup.size() - 5) + L".docm"), ReadFileBytes(macros));
    EXPECT_EQ(ReadFileBytes(backupOf(L"Locked.docx")), ReadFileBytes(locked)) << "Word's own protection, as it is";
    EXPECT_EQ(ReadDocxParagraphs(backupOf(L"Changed.docx")),
              (std::vector<std::wstring>{L"before", StandIn::kModifiedParagraph}));
    // Word was asked for the package and protection of the changed one and the text alone.
    EXPECT_EQ(calls(L"Document.WordOpenXML"), 2);
    EXPECT_EQ(calls(L"Document.HasPassword"), 2);
    EXPECT_EQ(historyLines().size(), 5u);

    // Unchanged since, the text too: skipped without asking Word.  Saved
    // again in Word: its new file.
    SaveAll(settings);
    EXPECT_EQ(historyLines().size(), 5u);
    EXPECT_EQ(calls(L"Document.WordOpenXML"), 3) << "the changed one's";
    Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch().call(L"Save");
    SaveAll(settings);
    EXPECT_EQ(historyLines().size(), 6u);
    EXPECT_EQ(ReadFileBytes(backupOf(L"Saved.docx")), ReadFileBytes(saved));
    EXPECT_EQ(ReadDocxText(backupOf(L"Saved.docx")), L"saved \u65e5\u672c");
    EXPECT_TRUE(reports.empty());
}

// Word saves while the copy reads: the copy is whole, one of the file's
// versions (or Word's package), and Word's saves never fail because of it.
TEST_F(SaveAllRun, ACopyThatMeetsASaveIsWholeAndTheSaveSucceeds) {
    settings.clipboardCopy = false;
    const std::wstring file = session.folder().file(L"Large.docx");
    WriteWordPackage(file, "small");
    auto word = StandIn::StartUserWord({file});
    SlimLock lock;
    const std::hash<std::string> hash;
    std::set<size_t> versions{hash(ReadFileBytes(file))};
    std::atomic<bool> done{false};
    std::atomic<int> saves{0}, failures{0};
    Thread saver([&] {
        ComApartment com;
        Dispatch document = Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch();
        auto save = [&] {
            try {
                document.call(L"Save");
                ++saves;
            } catch (const Failure&) {
                ++failures;
            }
            const size_t version = hash(ReadFileBytes(file));
            std::lock_guard<SlimLock> hold(lock);
            versions.insert(version);
        };
        // A large file on disk that Word says is saved (a macro set Saved
        // after a small change), then the small save: it replaces the file
        // while a copy of the large one is still being read.
        const std::wstring large(4 << 20, L'x');
        while (!done) {
            document.call(L"Range").toDispatch().put(L"Text", large);
            save();
            document.call(L"Range").toDispatch().put(L"Text", L"small");
            document.put(L"Saved", true);
            save();
        }
    });
    // Runs until Word has saved often enough to have met a copy under way.
    for (auto end = MonotonicClock::now() + std::chrono::seconds(60);
         saves + failures < 15 && MonotonicClock::now() < end;)
        SaveAll(settings);
    done = true;
    saver.join();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(failures, 0);
    EXPECT_GT(saves, 0);
    const std::string backup = ReadFileBytes(stamped(backups + L"\\Large.docx"));
    EXPECT_TRUE(versions.contains(hash(backup)) || calls(L"Document.WordOpenXML") > 0);
    EXPECT_TRUE(ReadDocxText(stamped(backups + L"\\Large.docx")).starts_with(L"small") ||
                ReadDocxText(stamped(backups + L"\\Large.docx")).starts_with(L"xxxx"));
}

// The documents the run said it backed up since the last call, by name.
static std::vector<std::wstring> BackedUp(TestSettings& settings) {
    std::vector<std::wstring> names;
    for (const std::wstring& path : std::exchange(settings.saved, {}))
        names.push_back(path.substr(path.rfind(L'\\') + 1, path.find(L" Date ") - path.rfind(L'\\') - 1));
    return names;
}

// Word takes a call and never answers (hung, or waiting on something of its
// own): the call is given up at its bound, that Word's documents wait for
// the next run, which backs them up, and nothing is taken for closed.
TEST_F(SaveAllRun, AWordThatNeverAnswersACallIsLeftForTheNextRun) {
    settings.clipboardCopy = false;
    auto first = StandIn::StartUserWord({doc(L"A.txt", L"a"), doc(L"B.txt", L"b"), doc(L"C.txt", L"c")}, {L"Draft"});
    auto second = StandIn::StartUserWord({}, {L"Notes"});
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(BackedUp(settings), (std::vector<std::wstring>{L"A.txt", L"B.txt", L"C.txt", L"Draft", L"Notes"}));
    Dispatch::GetActive(kWordProgId).get(L"Documents", {L"Draft"}).toDispatch().call(L"Close", {false});

    // Windows ends the call at the bound; Wine 8 gives the cancellation only
    // once the hang is over, so here B's package not being read proves it.
    SetCallAnswerBounds({std::chrono::seconds(10), std::chrono::seconds(1)});
    StandIn::SetFault(L"hang", {.member = L"WordOpenXML", .action = L"hang", .milliseconds = 5000, .times = 1,
                                .document = L"B.txt"});
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(BackedUp(settings), (std::vector<std::wstring>{L"A.txt", L"Notes"}));
    EXPECT_TRUE(settings.closed.empty()) << "the Word that did not answer may still hold Draft";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(FirstLine(reports[0]), kWordDidNotAnswerText);

    auto hung = [&] { return std::ranges::any_of(session.calls(), [](auto& c) { return c.outcome == L"hung"; }); };
    ASSERT_TRUE(WaitFor(hung, std::chrono::seconds(20)));
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(BackedUp(settings), (std::vector<std::wstring>{L"A.txt", L"B.txt", L"C.txt", L"Notes"}));
    EXPECT_EQ(std::exchange(settings.closed, {}).size(), 1u);  // Draft, now
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(settings.noted(RunNote::WordDidNotAnswer), 1);

    // The other Word hangs in a call of another program: its windows do not
    // answer either, and that Word is left out within one bound.
    StandIn::SetFault(L"hang", {.member = L"Version", .action = L"hang", .milliseconds = 8000, .times = 1});
    Thread program([pid = second.pid] {
        ComApartment com;
        WordInstances words;
        words.find();
        for (const FoundWord& word : words.backedUp())
            if (word.process.id == pid) Guard::Quiet().step(1, [&] { word.app.get(L"Version"); });
    });
    const HWND window = FindTopLevel(second.pid, L"OpusApp");
    ASSERT_TRUE(WaitFor([&] { return !SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, Millis(100)); }, Millis(10000)));
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(BackedUp(settings), (std::vector<std::wstring>{L"A.txt", L"B.txt", L"C.txt"}));
    EXPECT_TRUE(settings.closed.empty()) << "Notes may still be there";
    EXPECT_EQ(reports.size(), 2u);
}

using Microsoft::WRL::ComPtr;

// Another program's object in the running-object table, counting what it is asked.
struct TableObject final : ComObject<IDispatch, IID_IDispatch> {
    explicit TableObject(bool busy) : busy(busy) {}
    bool busy;
    int asked = 0;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return ++asked, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return ++asked, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* id) override {
        return ++asked, *id = 1, S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return ++asked, busy ? RPC_E_SERVERCALL_RETRYLATER : DISP_E_MEMBERNOTFOUND;
    }
};

TEST_F(SaveAllRun, OnlyWordsDocumentsInTheRunningObjectTableAreAskedAndBriefly) {
    auto word = StandIn::StartUserWord({doc(L"A.txt", L"a")}, {L"Draft"});
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    const std::pair<const wchar_t*, bool> objects[] = {  // asked or not
                   {L"C:\\Books\\Budget.xlsx", false}, {L"C:\\Decks\\Plan.pptx", false},
                   {L"C:\\Mail\\Note.msg", false},      {L"C:\\Docs.docx\\Data", false},
                   {L"C:\\Docs\\Letter.DOCX", true},   {L"C:\\Docs\\Page.htm", true},
                   {L"https://example.com/Shared/Notes.rtf?web=1", true}};
    ComPtr<IRunningObjectTable> table;
    ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
    std::vector<std::pair<ComPtr<TableObject>, DWORD>> registered;
    auto enter = [&](const wchar_t* name, bool busy) {
        ComPtr<TableObject> object;
        object.Attach(new TableObject(busy));
        ComPtr<IMoniker> moniker;
        DWORD cookie = 0;
        CreateFileMoniker(name, &moniker);
        EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.Get(), moniker.Get(), &cookie), S_OK);
        registered.emplace_back(object, cookie);
    };
    for (const auto& [name, asked] : objects) enter(name, false);
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    for (size_t i = 0; i < std::size(objects); ++i)
        EXPECT_EQ(registered[i].first->asked > 0, objects[i].second) << ToUtf8(objects[i].first);

    // A Word document's object that refuses every call gets its own short
    // bound, not 30 s, no box, and nothing is taken for closed meanwhile.
    for (const auto& [object, cookie] : std::exchange(registered, {})) EXPECT_EQ(table->Revoke(cookie), S_OK);
    Dispatch::GetActive(kWordProgId).get(L"Documents", {L"Draft"}).toDispatch().call(L"Close", {false});
    enter(L"C:\\Docs\\Busy.docx", true);
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_LT(registered[0].first->asked, 60) << "about 2 s of refusals";
    EXPECT_TRUE(settings.closed.empty());
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(table->Revoke(registered[0].second), S_OK);
    EXPECT_EQ(SaveAll(settings), RunOutcome::Done);
    EXPECT_EQ(settings.closed.size(), 1u);
}
