// The stand-in's SaveAs and Close: the .docx it writes, read by the tests'
// own reader, and Word's failures.
#include "StandInFixture.h"

#include "common/Handle.h"
#include "common/Text.h"
#include "support/Docx.h"
#include "support/Files.h"
#include "support/Paths.h"
#include "support/Thread.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    if (std::wstring forPython = EnvironmentVariable(L"STANDIN_DOCX_FOR_PYTHON"); !forPython.empty()) {
        EXPECT_TRUE(CopyFileW(path.c_str(), WindowsPath(forPython).c_str(), FALSE));
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
    const std::string written = ReadFileBytes(unchangedPath);  // a new write would stamp it anew
    unchanged.call(L"Close", {true});
    EXPECT_EQ(ReadFileBytes(unchangedPath), written);

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

TEST_F(StandInTest, WordOpenXMLIsThePackageWithHeaderAndPictureWhichOnlySaveAsKeeps) {
    std::wstring png = session.folder().file(L"picture.png");
    WriteFileBytes(png, StandIn::kTinyPng);
    // Saved by the stand-in, then opened again from its own package.
    auto first = StandIn::StartRichUserWord({{session.folder().write(L"Rich.txt", L"Body\n\n"), L"Kopf & <Zeile>", png}});
    Dispatch user = Dispatch::GetActive(L"Word.Application");
    std::wstring saved = session.folder().file(L"Rich.docx");
    user.get(L"Documents", {1}).toDispatch().call(L"SaveAs", {saved});
    StandIn::KillAllStandIns();
    auto word = StandIn::StartUserWord({saved});
    Dispatch doc = Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch();

    std::wstring package = doc.get(L"wordopenxml").toText();
    auto withoutModified = [](std::wstring xml) {
        size_t at = xml.find(L"<dcterms:modified");
        return xml.erase(at, xml.find(L"</dcterms:modified>") - at);
    };
    std::wstring again = doc.get(L"WordOpenXML").toText();
    EXPECT_NE(again, package);  // Word's document properties change at every read
    EXPECT_EQ(withoutModified(again), withoutModified(package));
    EXPECT_EQ(CallsOf(L"Document.WordOpenXML").size(), 2u);

    // The classic way carries the text only.
    Dispatch created = Dispatch::Create(L"Word.Application");
    Dispatch pasted = NewDocument(created);
    RangeOf(doc).call(L"Copy");
    RangeOf(pasted).call(L"Paste");
    EXPECT_EQ(pasted.get(L"WordOpenXML").toText().find(L"header1.xml"), std::wstring::npos);

    StandIn::SetFault(L"rights", {.member = L"WordOpenXML", .description = L"rights-managed"});
    EXPECT_THROW(doc.get(L"WordOpenXML"), Failure);
    StandIn::ClearFaults();

    // Any template Word saved (deflated) is given back as Word writes it:
    // each XML part's text without its declaration, base64 in 76-character
    // CRLF lines, only pictures stored, relationship parts padded.
    const std::string xml = "<w:document xmlns:w=\"urn:w\"><w:body><w:p><w:r><w:t>\xC3\xA4 \xF0\x9F\x98\x80</w:t></w:r>"
                            "</w:p></w:body></w:document>";
    const std::string picture(100, '\xFF');
    const std::wstring dotx = session.folder().file(L"Letter.dotx");
    WritePackageFile(dotx, {{"_rels/.rels", "application/vnd.openxmlformats-package.relationships+xml",
                             "<Relationships xmlns=\"urn:r\"/>"},
                            {"word/document.xml",
                             "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml",
                             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n" + xml},
                            {"word/media/image1.png", "image/png", picture},
                            {"word/vbaData.xml", "application/vnd.ms-word.vbaData+xml", "<x/>"}});
    Dispatch letter =
        Dispatch::GetActive(L"Word.Application").get(L"Documents").toDispatch().call(L"Open", {dotx}).toDispatch();
    EXPECT_EQ(RangeOf(letter).get(L"Text").toText(), L"\u00e4 \U0001F600\r");
    const std::wstring flat = letter.get(L"WordOpenXML").toText();
    EXPECT_THAT(flat, StartsWith(L"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n"
                                 L"<?mso-application progid=\"Word.Document\"?>\r\n<pkg:package"));
    EXPECT_THAT(flat, HasSubstr(L"pkg:padding=\"512\"><pkg:xmlData><Relationships"));
    EXPECT_THAT(flat, HasSubstr(L"><pkg:xmlData>" + FromUtf8(xml) + L"</pkg:xmlData>"));
    EXPECT_THAT(flat, HasSubstr(L"pkg:compression=\"store\"><pkg:binaryData>" + std::wstring(76, L'/') + L"\r\n" +
                                std::wstring(57, L'/') + L"w==\r\n</pkg:binaryData>"));
    EXPECT_THAT(flat, HasSubstr(L"vbaData+xml\"><pkg:xmlData><x/>"));

    if (std::wstring forPython = EnvironmentVariable(L"STANDIN_FLAT_OPC_FOR_PYTHON"); !forPython.empty()) {
        WriteUtf8File(WindowsPath(forPython), package);
        EXPECT_TRUE(CopyFileW(png.c_str(), (WindowsPath(forPython) + L".png").c_str(), FALSE));
    }
}

// An open document's file as Word keeps it: held with write access and read
// sharing, with Word's owner file beside it; Saved until it is typed into
// (--modified: in Word only), and Save writes it Word's way.
TEST_F(StandInTest, AnOpenFileIsHeldAsWordHoldsItAndSaveReplacesIt) {
    const std::wstring file = session.folder().write(L"Report.txt", L"first");
    auto word = StandIn::StartRichUserWord({{file, {}, {}, false, {}, false, false, true}});
    const std::wstring owner = session.folder().file(L"~$Report.txt");
    EXPECT_TRUE(PathExists(owner));
    EXPECT_FALSE(UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A reader that shares everything reads it while Word saves over it.
    UniqueFile reader(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);

    Dispatch doc = Dispatch::GetActive(L"Word.Application").get(L"Documents", {1}).toDispatch();
    EXPECT_FALSE(doc.get(L"Saved").toBool());
    EXPECT_EQ(ReadFileBytes(file), "first");
    EXPECT_EQ(RangeOf(doc).get(L"Text").toText(), std::wstring(L"first\r") + StandIn::kModifiedParagraph + L"\r");
    Thread letGo([&] { Sleep(300), reader.reset(); });
    doc.call(L"Save");
    letGo.join();
    EXPECT_TRUE(doc.get(L"Saved").toBool());
    EXPECT_EQ(ReadDocxParagraphs(file), (std::vector<std::wstring>{L"first", StandIn::kModifiedParagraph}));
    EXPECT_TRUE(PathExists(owner));
    RangeOf(doc).put(L"Text", L"again");
    EXPECT_FALSE(doc.get(L"Saved").toBool());
    // Its temporary file is gone; closing lets go of the file and the owner file.
    doc.call(L"Close", {false});
    EXPECT_TRUE(FileNamesIn(session.folder().path(), L"~WR*").empty());
    EXPECT_FALSE(PathExists(owner));
    EXPECT_TRUE(UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
}
