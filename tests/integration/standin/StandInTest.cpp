// The stand-in's instances: registration, creation, the active object, the
// user's documents, names and indexes, and how each instance ends.
#include "StandInFixture.h"

#include "Protocol.h"
#include "support/Files.h"
#include "support/Wait.h"
#include "common/Text.h"
#include "support/WindowLookup.h"

#include <oleacc.h>

#include <gmock/gmock.h>

using Microsoft::WRL::ComPtr;

namespace {
constexpr long kMemberNotInCollection = static_cast<long>(0x800A1735);  // Word error 5941
}  // namespace

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
    // Word holds an open document's file: it goes once Word has ended, or
    // it and Word's owner file stay at the root for every later run.
    StandIn::KillAllStandIns();
    EXPECT_TRUE(DeleteFileW(rootFile.c_str()));
}

TEST_F(StandInTest, AFileThatCannotBeOpenedEndsTheUserWordAtStart) {
    EXPECT_THROW(StandIn::StartUserWord({session.folder().file(L"missing.txt")}), Failure);
}

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
    HWND window = FindTopLevel(word.pid, standin::kWindowClass);
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
    WaitFor(
        [&] {
            IUnknown* active = nullptr;
            hr = GetActiveObject(standin::kClsid, nullptr, &active);
            if (active) active->Release();
            return hr == MK_E_UNAVAILABLE;
        },
        std::chrono::seconds(10), Millis(100));
    EXPECT_EQ(hr, MK_E_UNAVAILABLE);
}

TEST_F(StandInTest, EndingEveryStandInLeavesNoClassRegistrationBehind) {
    // A server COM has only just started (for a program killed in its call) has no window yet.
    std::wstring command = L"\"" + StandIn::ExePath() + L"\" -Embedding";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    StandIn::KillAllStandIns();
    EXPECT_NO_THROW(Dispatch::Create(L"Word.Application"));
}

// Word on a desk: a second user's Word waits for the active registration;
// each document has a window "NAME - Word" whose _WwG pane hands out its
// Window object, and each saved one is in the running-object table under
// its full name; a program's Word (/hidden) shows nothing.
TEST_F(StandInTest, WordsOnTheDeskAreReachedThroughTheirWindowsAndTheRunningObjectTable) {
    const std::wstring a = session.folder().write(L"A.txt", L"a"), b = session.folder().write(L"B.txt", L"b"),
                       h = session.folder().write(L"H.txt", L"h");
    auto first = StandIn::StartUserWord({a});
    auto second = StandIn::StartUserWord({b}, {L"Draft"});
    auto hidden = StandIn::StartHiddenWord({h});
    auto activeHolds = [] {
        return Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch().get(L"Name").toText();
    };
    EXPECT_EQ(activeHolds(), L"A.txt");

    const struct {
        DWORD pid;
        const wchar_t* name;
        bool visible;
        long documents;  // in its Word
    } windows[] = {{first.pid, L"A.txt", true, 1},
                   {second.pid, L"B.txt", true, 2},
                   {second.pid, L"Draft", true, 2},
                   {hidden.pid, L"H.txt", false, 1}};
    for (const auto& w : windows) {
        SCOPED_TRACE(ToUtf8(w.name));
        HWND frame = FindTopLevel(w.pid, standin::kDocumentWindowClass, (std::wstring(w.name) + L" - Word").c_str());
        ASSERT_TRUE(frame);
        EXPECT_EQ(IsWindowVisible(frame) != FALSE, w.visible);
        HWND pane = frame;
        for (const wchar_t* kind : {L"_WwF", L"_WwB", L"_WwG"}) pane = FindWindowExW(pane, nullptr, kind, nullptr);
        ComPtr<IDispatch> window;
        ASSERT_EQ(AccessibleObjectFromWindow(pane, static_cast<DWORD>(OBJID_NATIVEOM), IID_IDispatch,
                                             reinterpret_cast<void**>(window.GetAddressOf())),
                  S_OK);
        Dispatch object(window);
        EXPECT_EQ(object.get(L"Document").toDispatch().get(L"Name").toText(), w.name);
        EXPECT_EQ(object.get(L"Visible").toBool(), w.visible);
        EXPECT_EQ(object.get(L"Hwnd").toLong(), static_cast<long>(reinterpret_cast<LONG_PTR>(frame)));
        EXPECT_EQ(object.get(L"Application").toDispatch().get(L"Documents").toDispatch().get(L"Count").toLong(),
                  w.documents);
    }

    ComPtr<IRunningObjectTable> table;
    ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
    auto registered = [&](const std::wstring& file) {
        ComPtr<IMoniker> moniker;
        ComPtr<IUnknown> object;
        if (FAILED(CreateFileMoniker(file.c_str(), &moniker)) || FAILED(table->GetObject(moniker.Get(), &object)) ||
            !object)
            return std::wstring();
        ComPtr<IDispatch> document;
        object.As(&document);
        return Dispatch(document).get(L"FullName").toText();
    };
    for (const std::wstring& file : {a, b, h}) EXPECT_EQ(registered(file), file);
    // Closed: out of the table, its window gone.
    Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch().call(L"Close");
    EXPECT_EQ(registered(a), L"");
    EXPECT_FALSE(FindTopLevel(first.pid, standin::kDocumentWindowClass));

    // Once the first Word has gone, the second takes the registration.
    PostMessageW(FindTopLevel(first.pid, standin::kWindowClass), WM_CLOSE, 0, 0);
    ASSERT_TRUE(StandIn::WaitForExit(first.pid, 10000));
    EXPECT_TRUE(WaitFor(
        [&] {
            try {
                return activeHolds() == L"B.txt";
            } catch (const Failure&) {
                return false;
            }
        },
        std::chrono::seconds(10)));
}
