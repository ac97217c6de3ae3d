// The history buttons: View, Copy and Clear.
#include "FormFixture.h"

#include "common/Text.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>

namespace {

// A history of three lines in the ANSI code page, one with a non-ASCII name.
std::wstring SampleHistory() {
    return L"Report.docx was backup saved as C:\\Work\\Report.docx Date Dec 7 2026 Time 01 05 09 PM.docx"
           L" at 12/7/2026 1:05:09 PM\r\n"
           L"R\u00e9sum\u00e9.docx was backup saved as C:\\Work\\R\u00e9sum\u00e9.docx Dec 7 2026.docx"
           L" at 12/7/2026 1:05:10 PM\r\n"
           L"Document1 was backup saved as D:\\Backup\\Document1 Date Dec 7 2026 Time 01 05 11 PM.docx"
           L" at 12/7/2026 1:05:11 PM\r\n";
}

HWND FindNotepad(const std::wstring& fileName) {
    struct Search {
        std::wstring name;
        HWND found = nullptr;
    } search{fileName};
    EnumWindows([](HWND w, LPARAM p) {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t title[512] = {};
        GetWindowTextW(w, title, 512);
        if (IsWindowVisible(w) && std::wstring(title).find(s->name) != std::wstring::npos &&
            std::wstring(title).find(L"Notepad") != std::wstring::npos) {
            s->found = w;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

TEST_F(FormTest, ViewWithoutHistoryExplainsWhy) {
    Form1& f = Load();
    SendMessageW(f.PushButton3.hwnd(), BM_CLICK, 0, 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, L"There isn't a history to view because actions have not been performed yet.");
    EXPECT_EQ(rec.boxes[0].caption, L"Orvelle");
    EXPECT_EQ(rec.boxes[0].style, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(rec.commands.empty());
}

TEST_F(FormTest, ViewOpensNotepadWithTheQuotedPath) {
    Form1& f = Load();
    WriteFile(f.HistoryFileValue, ToAnsi(SampleHistory()));
    f.PushButton3_Click();
    ASSERT_EQ(rec.commands.size(), 1u);
    EXPECT_EQ(rec.commands[0].first, L"notepad \"" + (temp / L"Orvelle.txt").wstring() + L"\"");
    EXPECT_EQ(rec.commands[0].second, SW_SHOWNORMAL);
    EXPECT_NE(rec.commands[0].first.find(L' ', 8), std::wstring::npos) << "the TEMP of the test has a space";
    EXPECT_TRUE(rec.boxes.empty());
}

TEST_F(FormTest, ViewReallyStartsTheEditor) {
    FormServices s = Services();
    s.startCommand = &StartCommand;
    Form1& f = Load(s);
    WriteFile(f.HistoryFileValue, "one line\r\n");
    f.PushButton3_Click();
    HWND notepad = nullptr;
    for (int i = 0; i < 200 && !notepad; ++i) {
        Sleep(50);
        Pump();
        notepad = FindNotepad(L"Orvelle");
    }
    ASSERT_TRUE(notepad) << "Notepad did not open the history file, whose path holds a space";
    DWORD pid = 0;
    GetWindowThreadProcessId(notepad, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    PostMessageW(notepad, WM_CLOSE, 0, 0);
    if (process) {
        if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 0);
        CloseHandle(process);
    }
    EXPECT_TRUE(rec.boxes.empty());
}

TEST_F(FormTest, CopyPutsExactlyTheFileOnTheClipboard) {
    Form1& f = Load();
    SetClipboardText(L"before");
    f.PushButton5_Click();
    EXPECT_EQ(ClipboardText(), L"before") << "no file: nothing happens";

    WriteFile(f.HistoryFileValue, ToAnsi(L"an older, longer history that the next copy must replace entirely\r\n"));
    SendMessageW(f.PushButton5.hwnd(), BM_CLICK, 0, 0);
    WriteFile(f.HistoryFileValue, ToAnsi(SampleHistory()));
    SendMessageW(f.PushButton5.hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(ClipboardText(), SampleHistory());
    // Windows refuses data on a clipboard opened without an owner window.
    EXPECT_EQ(GetClipboardOwner(), f.hwnd());

    // Weeks of backups: a few MB, every line.
    std::wstring large;
    while (large.size() < 3 * 1024 * 1024) large += SampleHistory();
    WriteFile(f.HistoryFileValue, ToAnsi(large));
    f.PushButton5_Click();
    EXPECT_EQ(ClipboardText(), large);

    // A file that cannot be read is reported, and the earlier text is copied.
    HANDLE locked = CreateFileW(fs::path(f.HistoryFileValue).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetClipboardText(L"between");
    f.PushButton5_Click();
    CloseHandle(locked);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_NE(rec.boxes[0].text.find(L"\r\nin Quillbay2021/08/31.Form1.PushButton5_Click at line 2\r\r"),
              std::wstring::npos);
    EXPECT_EQ(ClipboardText(), large);
}

TEST_F(FormTest, CopyGivesTheTextTheRichEditBoxGave) {
    // Line breaks of every kind, a tab, characters beyond ASCII, an empty
    // line and no line break at the end.
    const std::wstring text = L"one\r\ntwo\nthree\rfour\tTab \u00e9\u20ac\r\n\r\nlast";
    Form1& f = Load();
    WriteFile(f.HistoryFileValue, ToAnsi(text));

    // What the rich edit box made of it: loaded as plain text, all selected,
    // WM_COPY.
    ASSERT_TRUE(LoadLibraryW(L"msftedit.dll"));
    HWND box = CreateWindowExW(0, MSFTEDIT_CLASS, L"", WS_POPUP | ES_MULTILINE, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
    ASSERT_TRUE(box);
    struct Source {
        std::wstring text;
        size_t at = 0;
    } source{text};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, [](DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) -> DWORD {
        auto* s = reinterpret_cast<Source*>(cookie);
        const size_t bytes = std::min(static_cast<size_t>(wanted), (s->text.size() * sizeof(wchar_t)) - s->at);
        std::memcpy(buffer, reinterpret_cast<const char*>(s->text.data()) + s->at, bytes);
        s->at += bytes;
        *given = static_cast<LONG>(bytes);
        return 0;
    }};
    SendMessageW(box, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, WM_COPY, 0, 0);
    DestroyWindow(box);
    const std::optional<std::wstring> richEdit = ClipboardText();
    ASSERT_TRUE(richEdit);

    SetClipboardText(L"before");
    f.PushButton5_Click();
    EXPECT_EQ(ClipboardText(), richEdit);
    EXPECT_TRUE(rec.boxes.empty());
}

TEST_F(FormTest, ClearDeletesOnlyOnYes) {
    Form1& f = Load();
    const std::string bytes = ToAnsi(SampleHistory());
    WriteFile(f.HistoryFileValue, bytes);
    rec.answers = {IDNO};
    SendMessageW(f.PushButton12.hwnd(), BM_CLICK, 0, 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, L"Are you sure you want to delete the history log and start over?");
    EXPECT_EQ(rec.boxes[0].caption, L"Orvelle");
    EXPECT_EQ(rec.boxes[0].style, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(ReadFile(f.HistoryFileValue), bytes);

    rec.answers = {IDYES};
    f.PushButton12_Click();
    EXPECT_FALSE(fs::exists(f.HistoryFileValue));
    EXPECT_EQ(rec.boxes.size(), 2u) << "no message after the deletion";

    // Nothing to delete: it still asks, and nothing is reported.
    rec.answers = {IDYES};
    f.PushButton12_Click();
    EXPECT_EQ(rec.boxes.size(), 3u);
    f.PushButton3_Click();
    EXPECT_EQ(rec.boxes.back().text, L"There isn't a history to view because actions have not been performed yet.");
}
