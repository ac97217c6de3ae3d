#include "common/IsInstalled.h"
#include "common/Main.h"
#include "support/Clipboard.h"

#include <gtest/gtest.h>

TEST(StripFileNameChars, RemovesEveryReservedCharacterAndKeepsTheRest) {
    EXPECT_EQ(StripFileNameChars(L"a b.c,d"), L"abcd");
    EXPECT_EQ(StripFileNameChars(L"x_y!z"), L"x_y!z");
    EXPECT_EQ(StripFileNameChars(L""), L"");
    EXPECT_EQ(StripFileNameChars(L"$/\\*:?<>|#' .,\"()-+=%;}{\t"), L"");
    EXPECT_EQ(StripFileNameChars(L"[Ä]~@&^`é"), L"[Ä]~@&^`é");
}

TEST(RemoveLastWord, DropsOnlyAMatchingLastWord) {
    EXPECT_EQ(RemoveLastWord(L"Alpha Beta Software", L"Software"), L"Alpha Beta");
    EXPECT_EQ(RemoveLastWord(L"Alpha", L"Software"), L"Alpha");
    EXPECT_EQ(RemoveLastWord(L"A B C", L""), L"A B");
    EXPECT_EQ(RemoveLastWord(L"A B C", L"c"), L"A B C");
    EXPECT_EQ(RemoveLastWord(L"A B ", L""), L"A B");
    EXPECT_EQ(RemoveLastWord(L"  Lead Software", L"Software"), L"Lead");
}

TEST(NormalizeBackslashes, CollapsesPairsAndKeepsANetworkPrefix) {
    EXPECT_EQ(NormalizeBackslashes(L"C:\\\\a\\\\b"), L"C:\\a\\b");
    EXPECT_EQ(NormalizeBackslashes(L"C:\\a\\\\\\b"), L"C:\\a\\\\b");      // three become two
    EXPECT_EQ(NormalizeBackslashes(L"C:\\a\\\\\\\\b"), L"C:\\a\\\\b");    // four become two
    EXPECT_EQ(NormalizeBackslashes(L"\\\\"), L"\\\\");
    EXPECT_EQ(NormalizeBackslashes(L""), L"");
    EXPECT_EQ(NormalizeBackslashes(L"\\\\\\server\\\\share"), L"\\\\server\\share");
    EXPECT_EQ(NormalizeBackslashes(L"\\folder\\x"), L"\\\\folder\\x");
    EXPECT_EQ(NormalizeBackslashes(L"\\\\\\\\"), L"\\\\");
    // Applied twice, as the backup run does: C:\ plus \Report.docx.
    EXPECT_EQ(NormalizeBackslashes(NormalizeBackslashes(L"C:\\\\Report.docx")), L"C:\\Report.docx");
}

TEST(SecondsToClock, FormatsATimeOfDayThatWraps) {
    EXPECT_EQ(SecondsToClock(0), L"00:00:00");
    EXPECT_EQ(SecondsToClock(59), L"00:00:59");
    EXPECT_EQ(SecondsToClock(3600), L"01:00:00");
    EXPECT_EQ(SecondsToClock(86399), L"23:59:59");
    EXPECT_EQ(SecondsToClock(86400), L"00:00:00");
    EXPECT_EQ(SecondsToClock(-5), L"00:00:05");
    EXPECT_EQ(SecondsToClock(-2147483647 - 1), SecondsToClock(2147483647 % 86400 + 1));
}

TEST(SetApplicationTitle, OneWordTitleStaysWhole) {
    SetApplicationTitle();
    EXPECT_EQ(ApplicationTitle(), L"Orvelle");
}

TEST(GetDesktopFolder, EndsInOneBackslashAndExists) {
    std::wstring desktop = GetDesktopFolder();
    ASSERT_GE(desktop.size(), 4u);
    EXPECT_EQ(desktop.back(), L'\\');
    EXPECT_NE(desktop[desktop.size() - 2], L'\\');
    EXPECT_EQ(desktop.find(L'\0'), std::wstring::npos);
    EXPECT_TRUE(FileExists(desktop.substr(0, desktop.size() - 1)));
    // The raw text keeps the buffer: path, NUL, blanks up to 512 characters.
    std::wstring raw = GetSpecialFolderPath(0);
    EXPECT_EQ(raw.size(), 512u);
    EXPECT_EQ(raw.back(), L' ');
}

TEST(GetDecimalSeparator, IsTheDotUnderUsEnglish) { EXPECT_EQ(GetDecimalSeparator(), L"."); }

namespace {

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"orvelle-main-test";
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        std::wstring file = folder_ + L"\\f.txt";
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring write(const char* text) {
        std::wstring file = folder_ + L"\\f.txt";
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, text, static_cast<DWORD>(strlen(text)), &n, nullptr);
        CloseHandle(h);
        return file;
    }
    std::wstring folder_;
};

}  // namespace

TEST_F(ScratchFolder, FileExistsAnswersWithoutFailing) {
    EXPECT_FALSE(FileExists(L""));
    EXPECT_FALSE(FileExists(folder_ + L"\\missing.txt"));
    EXPECT_FALSE(FileExists(folder_ + L"\\*.txt"));
    EXPECT_TRUE(FileExists(write("x")));
}

TEST_F(ScratchFolder, RemoveFileDeletesEvenAReadOnlyFile) {
    std::wstring file = write("history");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemoveFile(file);
    CoUninitialize();
    EXPECT_FALSE(FileExists(file));
    RemoveFile(folder_ + L"\\missing.txt");  // nothing to delete: no failure
}

TEST(GetClipboardFormat, AsksTheFormatsInTheirFixedOrder) {
    TestClipboard::Clear();
    EXPECT_EQ(GetClipboardFormat(), 0);

    const std::string rtf("{\\rtf1 hi}", 11);
    TestClipboard::Set({{ClipboardFormatOf(kFormatRtf), rtf}});
    EXPECT_EQ(GetClipboardFormat(), kFormatRtf);
    TestClipboard::Set({{ClipboardFormatOf(kFormatRtf), rtf}, {CF_TEXT, std::string("hi", 3)}});
    EXPECT_EQ(GetClipboardFormat(), kFormatText);  // text is asked before RTF

    BITMAPINFOHEADER dib{sizeof dib, 1, 1, 1, 24, BI_RGB};
    std::string bits(reinterpret_cast<const char*>(&dib), sizeof dib);
    TestClipboard::Set({{CF_DIB, bits + std::string(4, '\0')}});
    // A DIB alone also synthesises CF_BITMAP, which is asked first.
    EXPECT_EQ(GetClipboardFormat(), kFormatBitmap);
    TestClipboard::Set({{CF_HDROP, std::string(2, '\0')}});  // file lists are never reported
    EXPECT_EQ(GetClipboardFormat(), 0);
    TestClipboard::Clear();
}
