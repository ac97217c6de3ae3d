// The .docx from a Flat OPC package (check_package.py reads it too), written
// complete or not at all, and failing as other programs and full disks make it.
#include "common/CompleteFile.h"
#include "common/Failure.h"
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

// Volumes that the test bench stages where it may (package-volumes): one
// full, one read-only; empty when it could not.
std::wstring StagedVolume(const wchar_t* name) {
    const std::wstring root = EnvironmentVariable(L"PACKAGE_VOLUMES");
    const std::wstring folder = root.empty() ? L"" : WindowsPath(root) + L"\\" + name;
    return !folder.empty() && PathExists(folder + L"\\staged") ? folder : L"";
}

}  // namespace

TEST(Package, EveryPartBecomesAnEntryThatAnIndependentReaderReads) {
    const std::vector<PackagePart> parts = ReadFlatOpc(kFlatOpc);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1].bytes, kDocumentXml);  // the rest is check_package.py's

    ScratchFolder folder;
    const DocxPackage package = DocxFromFlatOpc(kFlatOpc);
    const std::wstring path = folder.file(L"Backup.docx");
    WriteFileComplete(path, package.bytes);
    if (std::wstring forPython = EnvironmentVariable(L"PACKAGE_DOCX_FOR_PYTHON"); !forPython.empty()) {
        WriteUtf8File(WindowsPath(forPython) + L".xml", kFlatOpc);
        EXPECT_TRUE(CopyFileW(path.c_str(), WindowsPath(forPython).c_str(), FALSE));
    }

    // Past the 16 KB where Wine's reader stops reading UTF-16, and whatever
    // encoding the declaration names: the string is UTF-16 in any case.
    const std::wstring longText(20000, L'x');
    const std::wstring longer = Replaced(Replaced(kFlatOpc, L" a &amp;", longText + L" a &amp;"), L"standalone",
                                         L"encoding=\"UTF-16\" standalone");
    std::string expected = kDocumentXml;
    expected.insert(expected.find(" a &amp;"), std::string(longText.size(), 'x'));
    EXPECT_EQ(ReadFlatOpc(longer).at(1).bytes, expected);

    // The fingerprint leaves out the time stamps of every read, not a change.
    const ContentFingerprint print = package.fingerprint;
    EXPECT_EQ(DocxFromFlatOpc(Replaced(kFlatOpc, L"10:00:00Z", L"10:00:30Z")).fingerprint, print);
    EXPECT_NE(DocxFromFlatOpc(Replaced(kFlatOpc, L"&lt;b&gt;", L"&lt;c&gt;")).fingerprint, print);
    EXPECT_NE(DocxFromFlatOpc(Replaced(kFlatOpc, L"QQ==", L"Qg==")).fingerprint, print);
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
         L"</pkg:package>", L"not well-formed"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.flatOpc.c_str());
        const std::wstring said = FailureOf([&] { DocxFromFlatOpc(c.flatOpc); });
        EXPECT_TRUE(said.starts_with(kPackageUnreadable)) << said.c_str();
        EXPECT_THAT(said, HasSubstr(c.says));
    }
    // Past what a ZIP without ZIP64 holds (here made small).
    ZipWriter zip(1000);
    EXPECT_EQ(FailureOf([&] { zip.add("big", std::string(1001, 'x')); }), kZipTooLarge);
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
        EXPECT_NE(FailureOf([&] { WriteFileComplete(path, bytes); }), L"(no failure)");
        hold.reset();
        EXPECT_EQ(FileNamesIn(c.folder), before) << "no temporary file, no partial backup";
    }
    EXPECT_EQ(ReadFileBytes(target), "second");
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
