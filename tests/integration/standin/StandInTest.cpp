// The stand-in's behaviour that later tests rely on, driven through the
// program's own automation client.
#include "common/Automation.h"
#include "common/Text.h"
#include "StandIn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr long kMemberNotInCollection = static_cast<long>(0x800A1735);  // Word error 5941

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override { SetBusyRetryBound(std::chrono::seconds(30)); }

    // The process of the instance created last, from its CreateInstance call.
    DWORD LastCreatedPid() const {
        DWORD pid = 0;
        for (const auto& c : session.calls())
            if (c.member == L"ClassFactory.CreateInstance") pid = c.pid;
        return pid;
    }
    std::vector<StandIn::Call> CallsOf(const std::wstring& member) const {
        std::vector<StandIn::Call> out;
        for (auto& c : session.calls())
            if (c.member == member) out.push_back(c);
        return out;
    }
    static Dispatch NewDocument(const Dispatch& app) { return app.get(L"Documents").toDispatch().call(L"Add").toDispatch(); }
    static Dispatch RangeOf(const Dispatch& doc) { return doc.call(L"Range").toDispatch(); }

    ComApartment com;
    StandIn::Session session;
};

// ---- Registration, creation, the active object ------------------------------

TEST_F(StandInTest, RegistrationMakesWordCreatableAndUnregisterRemovesIt) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Word.Application", &clsid), S_OK);
    wchar_t text[64];
    StringFromGUID2(clsid, text, 64);
    wchar_t server[MAX_PATH * 2];
    DWORD bytes = sizeof server;
    std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + text + L"\\LocalServer32";
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, server, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(server), L"\"" + StandIn::ExePath() + L"\"");

    StandIn::Unregister();
    EXPECT_EQ(CLSIDFromProgID(L"Word.Application", &clsid), CO_E_CLASSSTRING);
    EXPECT_THROW(Dispatch::Create(L"Word.Application"), Failure);
    EXPECT_EQ(StandIn::CountRunningStandIns(), 0);
}

TEST_F(StandInTest, EachCreationIsAFreshProcessWithNoDocumentsAndWordsAnswers) {
    Dispatch first = Dispatch::Create(L"Word.Application");
    Dispatch second = Dispatch::Create(L"Word.Application");
    EXPECT_EQ(StandIn::CountRunningStandIns(), 2);
    auto creations = CallsOf(L"ClassFactory.CreateInstance");
    ASSERT_EQ(creations.size(), 2u);
    EXPECT_NE(creations[0].pid, creations[1].pid);
    EXPECT_EQ(creations[0].role, L"created");

    for (const Dispatch* app : {&first, &second}) {
        EXPECT_EQ(app->get(L"Documents").toDispatch().get(L"Count").toLong(), 0);
        EXPECT_EQ(app->get(L"Version").toText(), L"16.0");
        EXPECT_EQ(app->getDefault().toText(), L"Microsoft Word");
        EXPECT_EQ(app->get(L"Name").toText(), L"Microsoft Word");
        EXPECT_FALSE(app->get(L"Visible").toBool());
    }
    // Documents in one instance are not in the other.
    NewDocument(first);
    EXPECT_EQ(first.get(L"Documents").toDispatch().get(L"Count").toLong(), 1);
    EXPECT_EQ(second.get(L"Documents").toDispatch().get(L"Count").toLong(), 0);

    first.put(L"Visible", true);
    EXPECT_TRUE(first.get(L"Visible").toBool());
    first.put(L"DisplayAlerts", false);
    EXPECT_EQ(first.get(L"DisplayAlerts").toLong(), 0);
    first.put(L"DisplayAlerts", true);
    EXPECT_EQ(first.get(L"DisplayAlerts").toLong(), -1);  // wdAlertsAll
}

TEST_F(StandInTest, OnlyTheUserWordIsTheActiveObject) {
    Dispatch created = Dispatch::Create(L"Word.Application");
    try {
        Dispatch::GetActive(L"Word.Application");
        ADD_FAILURE() << "a created instance was found as the active object";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), MK_E_UNAVAILABLE);
    }

    auto word = StandIn::StartUserWord({}, {L"Document1"});
    Dispatch active = Dispatch::GetActive(L"Word.Application");
    Dispatch another = Dispatch::Create(L"Word.Application");  // does not take over
    active = Dispatch::GetActive(L"Word.Application");
    Dispatch docs = active.get(L"Documents").toDispatch();
    ASSERT_EQ(docs.get(L"Count").toLong(), 1);
    EXPECT_EQ(docs.get(L"Item", {1}).toDispatch().get(L"Name").toText(), L"Document1");
    EXPECT_TRUE(active.get(L"Visible").toBool());
    EXPECT_THAT(CallsOf(L"Documents.Count").back().role, L"user");
    EXPECT_EQ(CallsOf(L"Documents.Count").back().pid, word.pid);
}

TEST_F(StandInTest, UserWordHoldsSavedAndUnsavedDocuments) {
    std::wstring text = session.folder().write(L"Report.txt", L"Grüße € 日本\nzweite Zeile\n");
    std::wstring rootFile = L"C:\\orvelle-standin-root.txt";
    WriteUtf8File(rootFile, L"at the root");
    auto word = StandIn::StartUserWord({text, rootFile}, {L"Document1"});
    DeleteFileW(rootFile.c_str());

    Dispatch docs = Dispatch::GetActive(L"Word.Application").get(L"Documents").toDispatch();
    ASSERT_EQ(docs.get(L"Count").toLong(), 3);
    Dispatch report = docs.get(L"Item", {1}).toDispatch();
    EXPECT_EQ(report.get(L"Name").toText(), L"Report.txt");
    EXPECT_EQ(report.get(L"Path").toText(), session.folder().path());
    EXPECT_EQ(RangeOf(report).get(L"Text").toText(), L"Grüße € 日本\rzweite Zeile\r");

    Dispatch root = docs.get(L"Item", {2}).toDispatch();
    EXPECT_EQ(root.get(L"Name").toText(), L"orvelle-standin-root.txt");
    EXPECT_EQ(root.get(L"Path").toText(), L"C:\\");

    Dispatch unsaved = docs.get(L"Item", {3}).toDispatch();
    EXPECT_EQ(unsaved.get(L"Name").toText(), L"Document1");
    EXPECT_EQ(unsaved.get(L"Path").toText(), L"");
    EXPECT_EQ(RangeOf(unsaved).get(L"Text").toText(), StandIn::UnsavedText(L"Document1") + L"\r");
}

TEST_F(StandInTest, AFileThatCannotBeOpenedEndsTheUserWordAtStart) {
    EXPECT_THROW(StandIn::StartUserWord({session.folder().file(L"missing.txt")}), Failure);
}

// ---- Names and indexes -------------------------------------------------------

TEST_F(StandInTest, DocumentsTakesAByRefIntegerIndexAndFailsOutOfRangeAsWordDoes) {
    auto word = StandIn::StartUserWord({}, {L"First", L"Second"});
    Dispatch app = Dispatch::GetActive(L"Word.Application");
    for (short i = 1; i <= 2; ++i) {
        short index = i;
        Dispatch doc = app.get(L"Documents", {Variant::ByRef(&index)}).toDispatch();
        EXPECT_EQ(doc.get(L"Name").toText(), i == 1 ? L"First" : L"Second");
    }
    EXPECT_EQ(CallsOf(L"Application.Documents").back().args, L"ByRef Integer 2");

    Dispatch docs = app.get(L"Documents").toDispatch();
    // The default member is Item; a name works as an index too.
    EXPECT_EQ(docs.invoke(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {2}).toDispatch().get(L"Name").toText(),
              L"Second");
    EXPECT_EQ(docs.get(L"Item", {L"first"}).toDispatch().get(L"Name").toText(), L"First");

    for (short bad : {short{0}, short{3}}) {
        short index = bad;
        try {
            app.get(L"Documents", {Variant::ByRef(&index)});
            ADD_FAILURE() << "index " << bad << " was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), kMemberNotInCollection);
            EXPECT_EQ(f.description(), L"The requested member of the collection does not exist.");
        }
    }
    EXPECT_THROW(docs.get(L"Item", {5}), Failure);
}

TEST_F(StandInTest, NamesAreCaseInsensitiveAndUnknownNamesFail) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    EXPECT_EQ(app.get(L"VERSION").toText(), L"16.0");
    Dispatch docs = app.get(L"documents").toDispatch();
    Dispatch doc = docs.call(L"add").toDispatch();
    EXPECT_EQ(docs.get(L"cOuNt").toLong(), 1);
    EXPECT_EQ(doc.get(L"name").toText(), L"Document1");
    EXPECT_EQ(doc.get(L"path").toText(), L"");
    EXPECT_EQ(NewDocument(app).get(L"Name").toText(), L"Document2");
    try {
        app.idOf(L"NoSuchMember");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), DISP_E_UNKNOWNNAME);
    }
    EXPECT_THROW(doc.call(L"SaveAs", {}, {{L"NoSuchArgument", L"x"}}), Failure);
}

// ---- Clipboard ---------------------------------------------------------------

TEST_F(StandInTest, CopyPutsUnicodeAnsiAndRichTextOnTheClipboard) {
    std::wstring file = session.folder().write(L"Copy.txt", L"Grüße € 日本\n{braces} \\ back\n");
    auto word = StandIn::StartUserWord({file});
    TestClipboard::Clear();
    Dispatch doc = Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch();
    RangeOf(doc).call(L"Copy");

    std::wstring expected = L"Grüße € 日本\r\n{braces} \\ back\r\n";
    EXPECT_EQ(TestClipboard::UnicodeText(), expected);
    std::string ansi = TestClipboard::Bytes(CF_TEXT);
    ansi.resize(strnlen(ansi.c_str(), ansi.size()));
    EXPECT_EQ(ansi, ToAnsi(expected));

    std::string rtf = TestClipboard::Bytes(TestClipboard::RtfFormat());
    rtf.resize(strnlen(rtf.c_str(), rtf.size()));
    EXPECT_THAT(rtf, StartsWith("{\\rtf1"));
    EXPECT_THAT(rtf, HasSubstr("Gr\\u252?\\u223?e \\u8364? \\u26085?\\u26412?\\par"));
    EXPECT_THAT(rtf, HasSubstr("\\{braces\\} \\\\ back\\par"));
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    EXPECT_EQ(std::count(rtf.begin(), rtf.end(), '{'), std::count(rtf.begin(), rtf.end(), '}'));  // 2 escaped each
}

TEST_F(StandInTest, PasteTakesUnicodeThenRichTextThenAnsiText) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    Dispatch range = RangeOf(NewDocument(app));

    TestClipboard::SetUnicodeText(L"Eins\r\nZwei ä €\r\n");
    range.call(L"Paste");
    EXPECT_EQ(range.get(L"Text").toText(), L"Eins\rZwei ä €\r");

    // Another program's RTF: tables skipped, \'hh in the code page, \uN
    // with its fallback dropped.
    TestClipboard::Set({{TestClipboard::RtfFormat(),
                         "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}"
                         "{\\*\\generator X;}\\f0 R\\'e4tsel \\u8364\\'80 ok\\par second\\par}"}});
    range.call(L"Paste");
    EXPECT_EQ(range.get(L"Text").toText(), L"Rätsel € ok\rsecond\r");

    TestClipboard::Set({{CF_TEXT, std::string("ANSI \xE4 text\r\n", 13) + '\0'}});
    range.call(L"Paste");
    EXPECT_EQ(range.get(L"Text").toText(), L"ANSI ä text\r");

    TestClipboard::Clear();
    try {
        range.call(L"Paste");
        ADD_FAILURE() << "Paste of an empty clipboard succeeded";
    } catch (const Failure& f) {
        EXPECT_THAT(f.description(), HasSubstr(L"Clipboard is empty or not valid"));
    }
}

TEST_F(StandInTest, CopyThenPasteCarriesTheContentUnchangedBetweenInstances) {
    std::wstring file = session.folder().write(L"Source.txt", L"Zeile 1 \U0001F600\n\tZeile 2\n\nletzte");
    auto word = StandIn::StartUserWord({file});
    Dispatch source = RangeOf(Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch());
    Dispatch target = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    source.call(L"Copy");
    target.call(L"Paste");
    EXPECT_EQ(target.get(L"Text").toText(), source.get(L"Text").toText());

    // The same through the RTF alone.
    std::string rtf = TestClipboard::Bytes(TestClipboard::RtfFormat());
    TestClipboard::Set({{TestClipboard::RtfFormat(), rtf}});
    target.put(L"Text", L"");
    target.call(L"Paste");
    EXPECT_EQ(target.get(L"Text").toText(), L"Zeile 1 \U0001F600\r\tZeile 2\r\rletzte\r");
}

TEST_F(StandInTest, CopyWaitsForAClipboardThatAnotherProgramHoldsForAMoment) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    range.put(L"Text", L"held");
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        bool held = OpenClipboard(nullptr);
        SetEvent(opened);
        WaitForSingleObject(release, 300);  // released while Copy retries
        if (held) CloseClipboard();
    });
    WaitForSingleObject(opened, INFINITE);
    EXPECT_NO_THROW(range.call(L"Copy"));
    holder.join();
    EXPECT_EQ(TestClipboard::UnicodeText(), L"held\r\n");

    // Held until the call has given up.
    ResetEvent(opened);
    ResetEvent(release);
    std::thread blocker([&] {
        bool held = OpenClipboard(nullptr);
        SetEvent(opened);
        WaitForSingleObject(release, 60000);
        if (held) CloseClipboard();
    });
    WaitForSingleObject(opened, INFINITE);
    try {
        range.call(L"Copy");
        ADD_FAILURE() << "Copy succeeded on a clipboard that stayed open";
    } catch (const Failure& f) {
        EXPECT_THAT(f.description(), HasSubstr(L"clipboard is in use"));
    }
    SetEvent(release);
    blocker.join();
    CloseHandle(opened);
    CloseHandle(release);
}

// ---- SaveAs and Close --------------------------------------------------------

TEST_F(StandInTest, SaveAsWritesADocxThatAnIndependentReaderReads) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    Dispatch doc = NewDocument(app);
    RangeOf(doc).put(L"Text", L"Erste Zeile ä €\rZweite <&> \"x\" 'y'\r\r\tTab");
    std::wstring path = session.folder().file(L"Backup.docx");
    doc.call(L"SaveAs", {}, {{L"FileName", path}});

    EXPECT_EQ(ReadDocxParagraphs(path),
              (std::vector<std::wstring>{L"Erste Zeile ä €", L"Zweite <&> \"x\" 'y'", L"", L"\tTab"}));
    EXPECT_EQ(doc.get(L"Name").toText(), L"Backup.docx");
    EXPECT_EQ(doc.get(L"Path").toText(), session.folder().path());
    EXPECT_THAT(CallsOf(L"Document.SaveAs").back().args, HasSubstr(L"FileName:=String \""));

    // Whatever the extension, the package format; a bare name gets .docx;
    // FileName positional and in any case.
    Dispatch other = NewDocument(app);
    RangeOf(other).put(L"Text", L"older extension");
    other.call(L"SaveAs", {session.folder().file(L"Old.doc")});
    EXPECT_EQ(ReadDocxText(session.folder().file(L"Old.doc")), L"older extension");
    other.call(L"SaveAs", {}, {{L"filename", session.folder().file(L"Bare")}});
    EXPECT_EQ(ReadDocxText(session.folder().file(L"Bare.docx")), L"older extension");
    EXPECT_EQ(other.get(L"Name").toText(), L"Bare.docx");

    // A package the stand-in wrote opens again as a user's document.
    auto word = StandIn::StartUserWord({path});
    Dispatch reopened = Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch();
    EXPECT_EQ(RangeOf(reopened).get(L"Text").toText(), L"Erste Zeile ä €\rZweite <&> \"x\" 'y'\r\r\tTab\r");

    // For the host-side check with Python's zipfile (check_docx.py).
    wchar_t forPython[MAX_PATH * 2];
    if (GetEnvironmentVariableW(L"STANDIN_DOCX_FOR_PYTHON", forPython, MAX_PATH * 2)) {
        EXPECT_TRUE(CopyFileW(path.c_str(), forPython, FALSE));
    }
}

TEST_F(StandInTest, SaveAsFailsClearlyForAMissingFolderOrAFileInUse) {
    Dispatch doc = NewDocument(Dispatch::Create(L"Word.Application"));
    try {
        doc.call(L"SaveAs", {}, {{L"FileName", session.folder().file(L"no such folder\\x.docx")}});
        ADD_FAILURE() << "SaveAs into a missing folder succeeded";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<long>(0x800A1420));  // Word error 5152
        EXPECT_THAT(f.description(), HasSubstr(L"does not exist"));
        EXPECT_THAT(f.description(), HasSubstr(L"no such folder"));
    }
    std::wstring locked = session.folder().write(L"Locked.docx", L"");
    UniqueFile hold(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    try {
        doc.call(L"SaveAs", {}, {{L"FileName", locked}});
        ADD_FAILURE() << "SaveAs over a file in use succeeded";
    } catch (const Failure& f) {
        EXPECT_THAT(f.description(), StartsWith(L"Word cannot save or create this file."));
        EXPECT_THAT(f.description(), HasSubstr(locked));
    }
    EXPECT_EQ(doc.get(L"Path").toText(), L"");  // still never saved
}

TEST_F(StandInTest, CloseSavesOnlyAChangedDocumentWhenToldAndRemovesIt) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    Dispatch docs = app.get(L"Documents").toDispatch();
    // Unchanged since its SaveAs: as with Word, Close(True) writes nothing.
    Dispatch unchanged = NewDocument(app);
    std::wstring unchangedPath = session.folder().file(L"Unchanged.docx");
    unchanged.call(L"SaveAs", {}, {{L"FileName", unchangedPath}});
    WriteUtf8File(unchangedPath, L"not written again");
    unchanged.call(L"Close", {true});
    EXPECT_EQ(ReadFileBytes(unchangedPath), "not written again");

    Dispatch kept = NewDocument(app);
    Dispatch dropped = NewDocument(app);
    std::wstring keptPath = session.folder().file(L"Kept.docx"), droppedPath = session.folder().file(L"Dropped.docx");
    kept.call(L"SaveAs", {}, {{L"FileName", keptPath}});
    dropped.call(L"SaveAs", {}, {{L"FileName", droppedPath}});

    RangeOf(kept).put(L"Text", L"changed then saved");
    kept.call(L"Close", {true});
    EXPECT_EQ(ReadDocxText(keptPath), L"changed then saved");
    EXPECT_EQ(docs.get(L"Count").toLong(), 1);

    RangeOf(dropped).put(L"Text", L"changed then discarded");
    Dispatch range = RangeOf(dropped);
    dropped.call(L"Close", {false});
    EXPECT_EQ(ReadDocxText(droppedPath), L"");
    EXPECT_EQ(docs.get(L"Count").toLong(), 0);

    EXPECT_THROW(dropped.get(L"Name"), Failure);
    try {
        range.get(L"Text");
        ADD_FAILURE() << "the range of a closed document still answered";
    } catch (const Failure& f) {
        EXPECT_EQ(f.description(), L"Object has been deleted.");
    }
}

// ---- Lifetime ----------------------------------------------------------------

TEST_F(StandInTest, QuitEndsTheProcessAndAReleasedInstanceKeepsRunning) {
    Dispatch quitting = Dispatch::Create(L"Word.Application");
    DWORD quittingPid = LastCreatedPid();
    Dispatch released = Dispatch::Create(L"Word.Application");
    DWORD releasedPid = LastCreatedPid();
    ASSERT_NE(quittingPid, releasedPid);

    EXPECT_NO_THROW(quitting.call(L"Quit"));  // the answer arrives before the process ends
    EXPECT_TRUE(StandIn::WaitForExit(quittingPid, 20000));
    EXPECT_THROW(quitting.get(L"Version"), Failure);

    released.reset();
    EXPECT_FALSE(StandIn::WaitForExit(releasedPid, 1500));
    EXPECT_EQ(StandIn::RunningStandIns(), std::vector<DWORD>{releasedPid});
}

TEST_F(StandInTest, UserWordEndsOnCloseAndIsNoLongerActive) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    HWND window = nullptr;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"OrvelleWordStandIn", nullptr));) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == word.pid) window = w;
    }
    ASSERT_TRUE(window);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(word.process.get(), 20000), WAIT_OBJECT_0);
    try {
        Dispatch::GetActive(L"Word.Application");
        ADD_FAILURE() << "a closed user Word is still the active object";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), MK_E_UNAVAILABLE);
    }
}

TEST_F(StandInTest, AKilledUserWordLeavesNoActiveObjectBehind) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    TerminateProcess(word.process.get(), 1);  // no chance to revoke anything
    ASSERT_EQ(WaitForSingleObject(word.process.get(), 20000), WAIT_OBJECT_0);
    HRESULT hr = S_OK;
    for (int attempt = 0; attempt < 100; ++attempt) {
        IUnknown* active = nullptr;
        CLSID clsid;
        CLSIDFromProgID(L"Word.Application", &clsid);
        hr = GetActiveObject(clsid, nullptr, &active);
        if (active) active->Release();
        if (hr == MK_E_UNAVAILABLE) break;
        Sleep(100);
    }
    EXPECT_EQ(hr, MK_E_UNAVAILABLE);
}

// ---- Faults ------------------------------------------------------------------

TEST_F(StandInTest, AnotherNameOrVersionIsAnsweredFromTheNextCallOn) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    StandIn::SetAppName(L"Microsoft Excel");
    StandIn::SetVersion(L"11.0");
    EXPECT_EQ(app.getDefault().toText(), L"Microsoft Excel");
    EXPECT_EQ(app.get(L"Name").toText(), L"Microsoft Excel");
    EXPECT_EQ(app.get(L"Version").toText(), L"11.0");
    StandIn::SetVersion(L"16.0.1");
    EXPECT_EQ(app.get(L"Version").toText(), L"16.0.1");
    StandIn::ClearFaults();
    EXPECT_EQ(app.getDefault().toText(), L"Microsoft Word");
    EXPECT_EQ(app.get(L"Version").toText(), L"16.0");
}

TEST_F(StandInTest, AFailingMemberFailsOnlyForItsCallsDocumentsAndRole) {
    auto word = StandIn::StartUserWord({}, {L"A", L"B"});
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    Dispatch created = Dispatch::Create(L"Word.Application");
    Dispatch a = user.get(L"Documents", {1}).toDispatch(), b = user.get(L"Documents", {2}).toDispatch();

    StandIn::SetFault(L"second copy", {.member = L"Range.Copy", .description = L"Copy broke", .call = 2, .times = 1});
    Dispatch range = RangeOf(a);
    EXPECT_NO_THROW(range.call(L"Copy"));
    try {
        range.call(L"Copy");
        ADD_FAILURE() << "the second Copy did not fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.description(), L"Copy broke");
    }
    EXPECT_NO_THROW(range.call(L"Copy"));
    EXPECT_EQ(StandIn::FaultSeen(L"second copy"), 3u);

    StandIn::SetFault(L"only B", {.member = L"Range", .description = L"no range for B", .number = 5000, .document = L"B"});
    EXPECT_NO_THROW(RangeOf(a));
    try {
        RangeOf(b);
        ADD_FAILURE() << "Range of B did not fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), static_cast<long>(0x800A1388));  // Word error 5000
        EXPECT_EQ(f.description(), L"no range for B");
    }

    StandIn::SetFault(L"user version", {.member = L"Version", .description = L"no version", .role = L"user"});
    EXPECT_THROW(user.get(L"Version"), Failure);
    EXPECT_EQ(created.get(L"Version").toText(), L"16.0");

    StandIn::SetFault(L"no creation", {.member = L"ClassFactory.CreateInstance"});
    EXPECT_THROW(Dispatch::Create(L"Word.Application"), Failure);
}

TEST_F(StandInTest, ABusyServerIsRetriedByTheClientUntilItAnswers) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"busy", {.member = L"Copy", .action = L"busy", .times = 3});
    EXPECT_NO_THROW(range.call(L"Copy"));
    std::vector<std::wstring> outcomes;
    for (auto& c : CallsOf(L"Range.Copy")) outcomes.push_back(c.outcome);
    EXPECT_EQ(outcomes, (std::vector<std::wstring>{L"busy", L"busy", L"busy", L"ok"}));

    // Busy for good: the client gives up at its bound.
    StandIn::SetFault(L"busy", {.member = L"Copy", .action = L"busy"});
    SetBusyRetryBound(std::chrono::milliseconds(300));
    try {
        range.call(L"Copy");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), RPC_E_SERVERCALL_RETRYLATER);
    }
}

TEST_F(StandInTest, ARejectingMessageFilterReachesTheClientAsCallRejected) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"reject", {.member = L"Range.Invoke", .action = L"reject", .times = 2});
    EXPECT_NO_THROW(range.call(L"Copy"));
    EXPECT_EQ(CallsOf(L"Range.Invoke").size(), 2u);
    EXPECT_EQ(CallsOf(L"Range.Invoke")[0].outcome, L"rejected");

    StandIn::SetFault(L"reject", {.member = L"Range.Invoke", .action = L"reject"});
    SetBusyRetryBound(std::chrono::milliseconds(300));
    try {
        range.call(L"Copy");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), RPC_E_CALL_REJECTED);
    }
}

TEST_F(StandInTest, ASlowMemberTakesAtLeastItsTimeInTheCallLog) {
    Dispatch range = RangeOf(NewDocument(Dispatch::Create(L"Word.Application")));
    StandIn::SetFault(L"slow", {.member = L"Copy", .action = L"slow", .milliseconds = 400});
    range.call(L"Copy");
    // A bound, not a timing: the sleep alone takes about that long.
    EXPECT_GE(CallsOf(L"Range.Copy").back().microseconds, 350000);
}

TEST_F(StandInTest, AServerThatDiesMidRunFailsTheCallAndIsGone) {
    Dispatch app = Dispatch::Create(L"Word.Application");
    DWORD pid = LastCreatedPid();
    Dispatch range = RangeOf(NewDocument(app));
    StandIn::SetFault(L"die", {.member = L"Copy", .action = L"die", .call = 2});
    range.call(L"Copy");
    try {
        range.call(L"Copy");
        ADD_FAILURE() << "the call survived the server's death";
    } catch (const Failure& f) {
        EXPECT_THAT(f.description(), HasSubstr(L"no longer available"));
    }
    EXPECT_TRUE(StandIn::WaitForExit(pid, 20000));
    EXPECT_EQ(CallsOf(L"Range.Copy").back().outcome, L"died");
    EXPECT_THROW(app.get(L"Version"), Failure);
}

TEST_F(StandInTest, CallLogNamesProcessRoleMemberArgumentsAndTime) {
    auto word = StandIn::StartUserWord({}, {L"Document1"});
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    user.put(L"DisplayAlerts", true);
    user.get(L"Documents").toDispatch().get(L"Count");
    Dispatch created = Dispatch::Create(L"Word.Application");
    created.get(L"Version");

    auto calls = session.calls();
    auto find = [&](const std::wstring& member) {
        auto it = std::find_if(calls.begin(), calls.end(), [&](auto& c) { return c.member == member; });
        EXPECT_NE(it, calls.end()) << "no call of " << ToUtf8(member);
        return it == calls.end() ? StandIn::Call{} : *it;
    };
    StandIn::Call alerts = find(L"Application.DisplayAlerts");
    EXPECT_EQ(alerts.pid, word.pid);
    EXPECT_EQ(alerts.role, L"user");
    EXPECT_EQ(alerts.args, L"= Boolean True");
    EXPECT_EQ(alerts.outcome, L"ok");
    StandIn::Call version = find(L"Application.Version");
    EXPECT_EQ(version.role, L"created");
    EXPECT_NE(version.pid, word.pid);
    EXPECT_EQ(find(L"Documents.Count").pid, word.pid);
}

}  // namespace
