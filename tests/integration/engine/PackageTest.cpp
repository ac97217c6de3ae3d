// The .docx from a Flat OPC package (check_package.py reads it too), written
// complete or not at all, and failing as other programs and full disks make it.
#include "common/CompleteFile.h"
#include "common/Failure.h"
#include "common/Text.h"
#include "common/Handle.h"
#include "common/Zip.h"
#include "engine/Package.h"
#include "support/Files.h"
#include "support/Paths.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;

namespace {

// Namespaces declared around the part (one named only in mc:Ignorable),
// entities, a character outside the BMP, line-broken base64, odd names.
const std::wstring kFlatOpc =
    LR"(<?xml version="1.0" standalone="yes"?>
<?mso-application progid="Word.Document"?>
<pkg:package xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage" xmlns:w14="urn:w14">
 <pkg:part pkg:name="/_rels/.rels" pkg:contentType="application/vnd.openxmlformats-package.relationships+xml">
  <pkg:xmlData><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="t" Target="word/document.xml"/></Relationships></pkg:xmlData></pkg:part>
 <pkg:part pkg:name="/word/document.xml" pkg:contentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml">
  <pkg:xmlData xmlns:w="urn:w"><w:document xmlns:mc="urn:mc" mc:Ignorable="w14"><w:body><!-- c --><w:p><w:r><w:t xml:space="preserve"> a &amp; &lt;b&gt; "q" 😀 </w:t></w:r></w:p><w:p w14:paraId="1A2B"/></w:body></w:document></pkg:xmlData></pkg:part>
 <pkg:part pkg:name="/word/media/Bild ä [1].png" pkg:contentType="image/png" pkg:compression="store"><pkg:binaryData>iVBORw0KGgoA
AQL+/4B/QQ==</pkg:binaryData></pkg:part>
 <pkg:part pkg:name="/docProps/core.xml" pkg:contentType="application/vnd.openxmlformats-package.core-properties+xml"><pkg:xmlData><c xmlns="urn:c">2026-12-08T10:00:00Z</c></pkg:xmlData></pkg:part>
</pkg:package>)";

const char kDocumentXml[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<w:document xmlns:mc=\"urn:mc\" "
    "mc:Ignorable=\"w14\" xmlns:w=\"urn:w\" xmlns:w14=\"urn:w14\"><w:body><!-- c --><w:p><w:r><w:t "
    "xml:space=\"preserve\"> a &amp; &lt;b&gt; \"q\" \xF0\x9F\x98\x80 </w:t></w:r></w:p><w:p "
    "w14:paraId=\"1A2B\"/></w:body></w:document>";

const std::wstring kDeclaration = L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

std::wstring Base64Lines(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring flat;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned long group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k)
            flat += k <= bytes.size() - i ? static_cast<wchar_t>(kDigits[group >> (18 - 6 * k) & 63]) : L'=';
    }
    std::wstring lines;
    for (size_t at = 0; at < flat.size(); at += 76) lines += flat.substr(at, 76) + L"\r\n";
    return lines;
}

// A part as the test gives it to the package: XML text, or else bytes.
struct WordPart {
    std::wstring name, contentType, xml;
    std::string binary;
};

// A package as WordOpenXML gives it: the declaration and the
// mso-application instruction each ended by CRLF, padding on relationship
// parts, pictures stored, base64 in 76-character CRLF lines.
std::wstring WordFlatOpc(const std::vector<WordPart>& parts, const std::wstring& rootDeclarations = L"") {
    std::wstring flat = L"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<?mso-application progid=\"Word.Document\"?>\r\n"
                        L"<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\"" +
                        rootDeclarations + L">";
    for (const WordPart& part : parts) {
        flat += L"<pkg:part pkg:name=\"" + part.name + L"\" pkg:contentType=\"" + part.contentType + L"\"";
        if (part.name.ends_with(L".rels")) flat += L" pkg:padding=\"256\"";
        if (part.name.starts_with(L"/word/media/")) flat += L" pkg:compression=\"store\"";
        flat += part.xml.empty() ? L"><pkg:binaryData>" + Base64Lines(part.binary) + L"</pkg:binaryData></pkg:part>"
                                 : L"><pkg:xmlData>" + part.xml + L"</pkg:xmlData></pkg:part>";
    }
    return flat + L"</pkg:package>";
}

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    return text.replace(text.find(from), from.size(), to);
}

std::wstring FailureOf(const std::function<void()>& action) {
    try { action(); } catch (const Failure& f) { return f.description(); }
    return L"(no failure)";
}

// This test's own exe, started again to hold a file open with no sharing,
// as another program does.
const bool kHolder = [] {
    const std::wstring path = EnvironmentVariable(L"ORVELLE_TEST_HOLD");
    if (path.empty()) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, EnvironmentVariable(L"ORVELLE_TEST_HELD").c_str());
    if (file != INVALID_HANDLE_VALUE && ready) SetEvent(ready);
    Sleep(INFINITE);
    return true;
}();

class OtherProcessHolds {
public:
    explicit OtherProcessHolds(const std::wstring& path) {
        const std::wstring event = L"OrvelleTestHeld" + std::to_wstring(GetCurrentProcessId());
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        SetEnvironmentVariableW(L"ORVELLE_TEST_HOLD", path.c_str());
        SetEnvironmentVariableW(L"ORVELLE_TEST_HELD", event.c_str());
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        const bool started = CreateProcessW(self, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        SetEnvironmentVariableW(L"ORVELLE_TEST_HOLD", nullptr);
        process_.reset(pi.hProcess);
        UniqueHandle thread(pi.hThread);
        EXPECT_TRUE(started && WaitForSingleObject(ready.get(), 30000) == WAIT_OBJECT_0) << "the holder did not start";
    }
    ~OtherProcessHolds() { TerminateProcess(process_.get(), 0), WaitForSingleObject(process_.get(), 30000); }

private:
    UniqueHandle process_;
};

}  // namespace

TEST(Package, APartKeepsTheNamespacesItReliesOnAndTheFingerprintOnlyWhatChanges) {
    const std::vector<PackagePart> parts = ReadFlatOpc(kFlatOpc);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1].bytes, kDocumentXml);

    // The fingerprint leaves out the time stamps of every read, not a change.
    const ContentFingerprint print = DocxFromFlatOpc(kFlatOpc).fingerprint;
    EXPECT_EQ(DocxFromFlatOpc(Replaced(kFlatOpc, L"10:00:00Z", L"10:00:30Z")).fingerprint, print);
    EXPECT_NE(DocxFromFlatOpc(Replaced(kFlatOpc, L"&lt;b&gt;", L"&lt;c&gt;")).fingerprint, print);
    EXPECT_NE(DocxFromFlatOpc(Replaced(kFlatOpc, L"QQ==", L"Qg==")).fingerprint, print);
}

// What documents that Word wrote hold, each part against the fault that
// would change it; one package, as WordOpenXML gives it, that check_package.py
// reads again with Python's own ZIP and XML readers.
TEST(Package, EachPartIsExactlyTheTextWordGave) {
    std::wstring multilingual;  // every character at every offset of a read buffer, past 64 KB
    for (int i = 0; multilingual.size() < 70000; ++i)
        multilingual += std::wstring(i % 4, L'x') + L"Grüße ß — Ελληνικά — בי-פון — بها (SARP) — 新細明體 — 😀🎉 ";
    std::string allBytes;
    for (int i = 0; i < 3 * 256 + 2; ++i) allBytes += static_cast<char>(i * 7);
    const std::wstring w = L"http://schemas.openxmlformats.org/wordprocessingml/2006/main",
                       mc = L"http://schemas.openxmlformats.org/markup-compatibility/2006",
                       w14 = L"http://schemas.microsoft.com/office/word/2010/wordml";
    const struct {
        const char* fault;
        WordPart part;
        std::wstring borrowed;  // what the root gets from around the part
    } kCases[] = {
        {"multibyte text broken where a reader's buffer ends",
         {L"/word/document.xml", L"application/vnd.ms-word.document.macroEnabled.main+xml",
          L"<w:document xmlns:w=\"" + w + L"\"><w:body><w:p><w:r><w:t>" + multilingual +
              L"</w:t></w:r></w:p></w:body></w:document>"}},
        {"character references in an attribute turned into blanks",
         {L"/word/header1.xml", L"application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml",
          L"<w:hdr xmlns:w=\"" + w + L"\" xmlns:v=\"urn:schemas-microsoft-com:vml\" "
          L"xmlns:o='urn:schemas-microsoft-com:office:office'><w:p><w:r><w:pict><v:shape "
          L"o:gfxdata=\"UEsDBB&#10;QABgAI&#13;AAAA&#9;IQ&#xA;\" style='a:b'>&#x1F600; &amp; &lt;</v:shape>"
          L"</w:pict></w:r></w:p></w:hdr>"}},
        {"a processing instruction before the root dropped",
         {L"/customXml/item1.xml", L"application/xml",
          L"<?mso-contentType?><FormTemplates xmlns=\"http://schemas.microsoft.com/sharepoint/v3/contenttype/forms\">"
          L"<Display>DocumentLibraryForm</Display><New>DocumentLibraryForm</New></FormTemplates>"}},
        {"the part's end taken from a comment or a CDATA section",
         {L"/word/footer1.xml", L"application/vnd.openxmlformats-officedocument.wordprocessingml.footer+xml",
          L"<w:ftr xmlns:w=\"" + w + L"\">\r\n<!-- </pkg:xmlData></pkg:part> --><w:p><w:r><w:t>"
          L"<![CDATA[</pkg:xmlData> & <]]></w:t></w:r></w:p>\r\n</w:ftr>"}},
        {"namespaces declared only on the package lost, or ones the part does not use added",
         {L"/word/styles.xml", L"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml",
          L"<w:styles mc:Ignorable=\"w14\"><w:style w:type=\"paragraph\" w14:x=\"1\"/></w:styles>"},
         L" xmlns:w=\"" + w + L"\" xmlns:mc=\"" + mc + L"\" xmlns:w14=\"" + w14 + L"\""},
        {"an embedded font's bytes changed",
         {L"/word/fonts/font1.odttf", L"application/vnd.openxmlformats-officedocument.obfuscatedFont", L"", allBytes}},
        {"a picture's bytes changed", {L"/word/media/image1.png", L"image/png", L"", allBytes.substr(1)}},
        {"the macros' bytes changed",
         {L"/word/vbaProject.bin", L"application/vnd.ms-office.vbaProject", L"", allBytes.substr(2)}},
    };
    std::vector<WordPart> parts;
    for (const auto& c : kCases) parts.push_back(c.part);
    const std::wstring flatOpc = WordFlatOpc(
        parts, L" xmlns:w=\"" + w + L"\" xmlns:mc=\"" + mc + L"\" xmlns:w14=\"" + w14 + L"\" xmlns:x=\"urn:unused\"");

    const std::vector<PackagePart> read = ReadFlatOpc(flatOpc);
    ASSERT_EQ(read.size(), std::size(kCases));
    for (size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(kCases[i].fault);
        const WordPart& source = kCases[i].part;
        std::wstring xml = source.xml;
        if (!xml.empty()) xml.insert(xml.find(L'>', xml.find(L"<", xml.starts_with(L"<?") ? 2 : 0)), kCases[i].borrowed);
        EXPECT_EQ(read[i].bytes, xml.empty() ? source.binary : ToUtf8(kDeclaration + xml));
        EXPECT_EQ(read[i].stored, source.name.starts_with(L"/word/media/"));
    }
    const DocxPackage package = DocxFromFlatOpc(flatOpc);
    EXPECT_EQ(package.extension, L".docm");
    if (std::wstring forPython = EnvironmentVariable(L"PACKAGE_DOCX_FOR_PYTHON"); !forPython.empty()) {
        WriteUtf8File(WindowsPath(forPython) + L".xml", flatOpc);
        WriteFileBytes(WindowsPath(forPython), package.bytes);
    }
}

// Word opens a macro-enabled document or a template only under its own
// extension.
TEST(Package, TheBackupsExtensionFollowsTheMainPart) {
    const std::pair<const wchar_t*, const wchar_t*> kCases[] = {
        {L"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", L".docx"},
        {L"application/vnd.ms-word.document.macroEnabled.main+xml", L".docm"},
        {L"application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml", L".dotx"},
        {L"application/vnd.ms-word.template.macroEnabledTemplate.main+xml", L".dotm"},
        {L"text/plain", L".docx"}};
    for (const auto& [mainType, extension] : kCases)
        EXPECT_EQ(DocxFromFlatOpc(WordFlatOpc({{L"/word/document.xml", mainType, L"<w:document xmlns:w=\"urn:w\"/>"}}))
                      .extension,
                  extension) << mainType;
}

TEST(Package, AMalformedPackageFailsClearly) {
    const std::wstring head = L"<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/2006/xmlPackage\">";
    const std::wstring part = L"<pkg:part pkg:name=\"/a.xml\" pkg:contentType=\"t\">";
    const struct {
        std::wstring flatOpc;
        const wchar_t* says;
    } kCases[] = {
        {L"", L"it is empty."},
        {L"not XML at all", L"it is not a Flat OPC package"},
        {L"\xFEFF<?xml version=\"1.0\"?><!-- -->", L"it is not a Flat OPC package"},
        {L"<package/>", L"no pkg:package element"},
        {head + L"</pkg:package>", L"it holds no parts."},
        {head + L"<pkg:part pkg:contentType=\"t\"><pkg:xmlData><a/></pkg:xmlData></pkg:part></pkg:package>",
         L"a part has no pkg:name."},
        {head + L"<pkg:part pkg:name=\"/a.xml\"><pkg:xmlData><a/></pkg:xmlData></pkg:part></pkg:package>",
         L"part /a.xml has no pkg:contentType."},
        {head + part + L"</pkg:part></pkg:package>", L"part /a.xml has no content."},
        {head + part + L"<pkg:xmlData><a/><b/></pkg:xmlData></pkg:part></pkg:package>", L"more than one root"},
        {head + part + L"<pkg:binaryData>*not base64*</pkg:binaryData></pkg:part></pkg:package>", L"not base64"},
        {head + part + L"<pkg:xmlData><a>cut off", L"it ends inside an element."},
        {head + part + L"<pkg:xmlData><a/></pkg:xmlData></pkg:part>" +
             Replaced(part, L"/a.xml", L"/A.XML") + L"<pkg:xmlData><a/></pkg:xmlData></pkg:part></pkg:package>",
         L"two parts are named /A.XML."},
        {head + Replaced(part, L"/a.xml", L"a.xml") + L"<pkg:xmlData><a/></pkg:xmlData></pkg:part></pkg:package>",
         L"does not begin with \"/\""},
        {L"<!DOCTYPE p [<!ENTITY e \"x\">]>" + head + part + L"<pkg:xmlData><a>&e;</a></pkg:xmlData></pkg:part>"
         L"</pkg:package>", L"document type"},
        {head + part + L"<pkg:xmlData><a></b></pkg:xmlData></pkg:part></pkg:package>", L"not well-formed"},
        {head + part + L"<pkg:xmlData><x:a/></pkg:xmlData></pkg:part></pkg:package>", L"undeclared prefix x"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.flatOpc.c_str());
        const std::wstring said = FailureOf([&] { DocxFromFlatOpc(c.flatOpc); });
        EXPECT_TRUE(said.starts_with(kPackageUnreadable)) << said.c_str();
        EXPECT_THAT(said, HasSubstr(c.says));
    }
    // Part names that are no part names, "/" among them.
    for (const wchar_t* name : {L"/", L"/word/", L"/word//a.xml", L"/word/../a.xml", L"/./a.xml", L"/word./a.xml",
                                L"/a&#9;.xml", L"/a&#x7F;.xml", L"/a\\b.xml"}) {
        const std::wstring said = FailureOf([&] {
            DocxFromFlatOpc(head + Replaced(part, L"/a.xml", name) + L"<pkg:xmlData><a/></pkg:xmlData></pkg:part>"
                            L"</pkg:package>");
        });
        EXPECT_TRUE(said.starts_with(kPackageUnreadable)) << name;
        EXPECT_THAT(said, HasSubstr(L"is not valid.")) << name;
    }
    // Cut off anywhere, as a dying Word might leave it: a clear failure, never another.
    for (size_t length = 0; length < kFlatOpc.size(); ++length) {
        const std::wstring said = FailureOf([&] { DocxFromFlatOpc(kFlatOpc.substr(0, length)); });
        ASSERT_TRUE(said.starts_with(kPackageUnreadable)) << length << ": " << said.c_str();
    }
    // Past what a ZIP without ZIP64 holds (here made small).
    ZipWriter zip(1000);
    EXPECT_EQ(FailureOf([&] { zip.add("big", std::string(1001, 'x')); }), kZipTooLarge);
}

// A saved package's file is copied only whole: a reader that meets a save
// half-way sees it cut off, or with more behind its end.
TEST(Package, OnlyAWholeArchiveIsComplete) {
    ZipWriter zip;
    zip.add("word/document.xml", std::string(5000, 'x'));
    zip.add("word/media/image1.png", std::string(300, '\x89'), true);
    const std::string whole = zip.finish();
    EXPECT_TRUE(IsCompleteZip(whole));
    for (size_t length = 0; length < whole.size(); ++length) ASSERT_FALSE(IsCompleteZip(whole.substr(0, length))) << length;
    EXPECT_FALSE(IsCompleteZip(whole + "PK\x03\x04"));
}

TEST(Package, AFailedWriteLeavesThePreviousFileAndNoTemporaryOne) {
    ScratchFolder folder;
    const std::wstring target = folder.file(L"Doc Date 2026-12-08.docx");
    WriteFileComplete(target, "first");
    WriteFileComplete(target, "second");
    EXPECT_EQ(ReadFileBytes(target), "second");

    const std::wstring full = StagedVolume(L"full"), readOnly = StagedVolume(L"readonly");
    const struct {
        const wchar_t* world;
        std::wstring folder;
        bool holdTarget;
    } kCases[] = {
        {L"missing folder", folder.file(L"gone"), false},
        {L"target held by another program", folder.path(), true},
        {L"full volume", full, false},
        {L"read-only volume", readOnly, false},
    };
    const std::string bytes(1 << 20, 'b');  // more than the staged full volume holds
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.world);
        if (c.folder.empty()) {
            std::printf("skipped: no %ls staged (package-volumes needs root)\n", c.world);
            continue;
        }
        const std::wstring path = c.folder + L"\\Doc Date 2026-12-08.docx";
        const std::vector<std::wstring> before = FileNamesIn(c.folder);
        std::optional<OtherProcessHolds> hold;
        if (c.holdTarget) hold.emplace(path);
        // A target held past the retry bound is said so, for the caller to
        // write elsewhere; every other failure is thrown.
        bool written = true;
        const std::wstring failure = FailureOf([&] { written = WriteFileComplete(path, bytes); });
        EXPECT_EQ(failure == L"(no failure)" && !written, c.holdTarget) << failure;
        hold.reset();
        EXPECT_EQ(FileNamesIn(c.folder), before) << "no temporary file, no partial backup";
    }
    EXPECT_EQ(ReadFileBytes(target), "second");
}

// A held file's pauses run the window's messages, and a budget bounds the
// waiting of all the held files it covers together.
TEST(Package, HeldFilesAreWaitedForWithTheWindowAnsweringWithinTheRunsBudget) {
    ScratchFolder folder;
    const std::wstring held = folder.file(L"a.docx");
    WriteFileComplete(held, "a");
    OtherProcessHolds hold(held);
    static int ticks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
    unsigned long long left = 300;
    HeldFileBudget run(left);
    EXPECT_FALSE(DeleteHeldFile(held));
    EXPECT_GT(ticks, 0) << "the thread's timer ran during the pauses";
    int tries = 0;
    EXPECT_FALSE(RetryWhileHeld([&] { return ++tries, DeleteFileW(held.c_str()) != FALSE; }));
    EXPECT_EQ(tries, 1) << "the budget is spent: tried once";
    KillTimer(nullptr, timer);
}

TEST(Package, LeftoversOfACrashAreRemovedButNothingElse) {
    ScratchFolder folder;
    auto plant = [&](const std::wstring& name, int minutesOld) { return WriteAgedFile(folder.file(name), minutesOld); };
    plant(L"~Orvelle unfinished backup 0A1B2C3D.tmp", 5);                                // a crash's: goes
    plant(L"~Orvelle unfinished backup 0A1B2C3E.tmp", 0);                                // being written
    const std::wstring held = plant(L"~Orvelle unfinished backup 0A1B2C3F.tmp", 5);      // open elsewhere
    plant(L"~Orvelle unfinished backup notes.tmp", 5);                                   // not our pattern
    plant(L"~Orvelle unfinished backup 0A1B2C40.tmp.docx", 5);
    plant(L"report.tmp", 5);
    const std::wstring aFolder = folder.file(L"~Orvelle unfinished backup 0A1B2C41.tmp");
    CreateDirectoryW(aFolder.c_str(), nullptr);
    OtherProcessHolds hold(held);

    EXPECT_EQ(RemoveUnfinishedFiles(folder.path()), 1);
    EXPECT_THAT(FileNamesIn(folder.path()),
                ::testing::UnorderedElementsAre(L"~Orvelle unfinished backup 0A1B2C3E.tmp",
                                                L"~Orvelle unfinished backup 0A1B2C3F.tmp",
                                                L"~Orvelle unfinished backup notes.tmp",
                                                L"~Orvelle unfinished backup 0A1B2C40.tmp.docx", L"report.tmp"));
    EXPECT_TRUE(PathExists(aFolder));
}
