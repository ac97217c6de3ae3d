// The stand-in's Copy and Paste through the real clipboard.
#include "StandInFixture.h"

#include "common/Text.h"
#include "support/Clipboard.h"
#include "support/Thread.h"

#include <gmock/gmock.h>

#include <algorithm>

using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    Thread holder([&] {
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
    Thread blocker([&] {
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
