#include "common/ClipboardLock.h"
#include "engine/Clipboard.h"
#include "support/Clipboard.h"
#include "support/Thread.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

using namespace TestClipboard;

namespace {

template <class T>
std::string BytesOf(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

TEST(ClipboardSnapshot, PutsBackTextRtfHtmlDibFileListAndMetafile) {
    const UINT rtf = RegisterClipboardFormatW(L"Rich Text Format");
    const UINT html = RegisterClipboardFormatW(L"HTML Format");
    const wchar_t unicode[] = L"Gr\u00fc\u00dfe \u20ac";
    const char rtfText[] = "{\\rtf1 user}";
    const char htmlText[] = "Version:0.9\r\n<b>user</b>";
    BITMAPINFOHEADER dib{sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, BI_RGB};
    std::string dibBytes(reinterpret_cast<char*>(&dib), sizeof dib);
    dibBytes += std::string(16, '\x7f');
    struct {
        DROPFILES header;
        wchar_t files[16];
    } drop{{sizeof(DROPFILES), {0, 0}, FALSE, TRUE}, L"C:\\a.txt\0"};

    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    Rectangle(dc, 0, 0, 10, 10);
    HENHMETAFILE emf = CloseEnhMetaFile(dc);
    UINT emfSize = GetEnhMetaFileBits(emf, 0, nullptr);

    {
        ClipboardLock lock(Owner());
        EmptyClipboard();
        ASSERT_TRUE(Put(CF_UNICODETEXT, BytesOf(unicode)));
        ASSERT_TRUE(Put(rtf, BytesOf(rtfText)));
        ASSERT_TRUE(Put(html, BytesOf(htmlText)));
        ASSERT_TRUE(Put(CF_DIB, dibBytes));
        ASSERT_TRUE(Put(CF_HDROP, BytesOf(drop)));
        SetClipboardData(CF_ENHMETAFILE, emf);
    }

    ClipboardSnapshot snapshot = ClipboardSnapshot::Take(Owner());

    // The backup run's own content replaces the user's...
    SetUnicodeText(L"backup");
    ASSERT_EQ(UnicodeText(), L"backup");

    // ...and the user's comes back, format by format, from a clipboard
    // that our own window owns.
    snapshot.restore(Owner());
    EXPECT_EQ(GetClipboardOwner(), Owner());
    EXPECT_EQ(UnicodeText(), unicode);
    EXPECT_EQ(Bytes(rtf).substr(0, sizeof rtfText - 1), std::string(rtfText));
    EXPECT_EQ(Bytes(html).substr(0, sizeof htmlText - 1), std::string(htmlText));
    EXPECT_EQ(Bytes(CF_DIB).substr(0, dibBytes.size()), dibBytes);
    EXPECT_EQ(Bytes(CF_HDROP).substr(0, sizeof drop), BytesOf(drop));
    ClipboardLock lock(nullptr);
    auto restoredEmf = static_cast<HENHMETAFILE>(GetClipboardData(CF_ENHMETAFILE));
    EXPECT_TRUE(restoredEmf);
    if (restoredEmf) {
        EXPECT_EQ(GetEnhMetaFileBits(restoredEmf, 0, nullptr), emfSize);
    }
}

TEST(ClipboardSnapshot, AnEmptyClipboardIsEmptyAgainAfterRestore) {
    Clear();
    ClipboardSnapshot snapshot = ClipboardSnapshot::Take(Owner());
    SetUnicodeText(L"backup");
    snapshot.restore(Owner());
    EXPECT_EQ(CountClipboardFormats(), 0);
}

TEST(ClipboardLock, WaitsForAnotherHolderWithinItsBoundThenSaysTheClipboardIsInUse) {
    struct {
        DWORD heldMs;
        bool opens;
    } const cases[] = {{300, true}, {1500, false}};
    for (const auto& c : cases) {
        // Another thread holds the clipboard, as another program might.
        Thread holder([&] {
            OpenClipboard(nullptr);
            Sleep(c.heldMs);
            CloseClipboard();
        });
        Sleep(50);
        try {
            ClipboardLock lock(Owner(), std::chrono::seconds(1));
            EXPECT_TRUE(c.opens) << c.heldMs;
        } catch (const Failure& failure) {
            EXPECT_FALSE(c.opens) << c.heldMs;
            EXPECT_TRUE(IsClipboardInUse(failure));
            EXPECT_NE(failure.description().find(L"in use by another program"), std::wstring::npos);
        }
        holder.join();
    }
}
