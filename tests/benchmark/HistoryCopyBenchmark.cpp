// "Copy History To Clipboard" over histories of 1, 5 and 20 MB: the window's
// copy against the way it used to go (the text loaded into a rich edit box,
// all selected, WM_COPY), in one run.  The old way is timed only up to 1 MB:
// it takes about 10 s per MB under Wine.  Not a test: it asserts nothing.
#include "common/Main.h"
#include "common/MonotonicClock.h"
#include "common/Text.h"
#include "mainwindow/Form1.h"

#include <ole2.h>
#include <richedit.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Clock = MonotonicClock;

std::string History(size_t bytes) {
    const std::string line =
        "Report.docx was backup saved as C:\\Work\\Report.docx Date Dec 7 2026 Time 01 05 09 PM.docx at "
        "12/7/2026 1:05:09 PM\r\n";
    std::string text;
    while (text.size() < bytes) text += line;
    return text;
}

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Source {
    std::wstring text;
    size_t at = 0;
};

DWORD CALLBACK Read(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    auto* s = reinterpret_cast<Source*>(cookie);
    size_t bytes = std::min(static_cast<size_t>(wanted), s->text.size() * sizeof(wchar_t) - s->at);
    std::memcpy(buffer, reinterpret_cast<const char*>(s->text.data()) + s->at, bytes);
    s->at += bytes;
    *given = static_cast<LONG>(bytes);
    return 0;
}

// The old way, step by step: stream in, select all, WM_COPY.
void RichEditCopy(HWND box, const std::string& bytes, double& load, double& copy) {
    auto start = Clock::now();
    Source source{FromAnsi(bytes)};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, &Read};
    SendMessageW(box, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    SendMessageW(box, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
    load = Ms(start);
    start = Clock::now();
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, WM_COPY, 0, 0);
    copy = Ms(start);
}

}  // namespace

int wmain() {
    OleInitialize(nullptr);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring file = std::wstring(temp) + L"orvelle-history-benchmark.txt";

    struct BenchmarkServices : Form1Services {
        int ShowBox(const MessageBoxRequest&) override { return IDOK; }
        std::wstring InstanceName() override { return L"Local\\Kelvane.Orvelle.Benchmark"; }
    };
    Form1 form(std::make_unique<BenchmarkServices>());
    form.Create(GetModuleHandleW(nullptr));
    form.HistoryFileValue = file;
    // The class is registered by the DLL: without it no box is made and the
    // rich edit columns would time nothing.
    LoadLibraryW((SystemFolder() + L"\\msftedit.dll").c_str());
    HWND box = CreateWindowExW(0, MSFTEDIT_CLASS, L"", WS_POPUP | ES_MULTILINE, 0, 0, 300, 300, nullptr, nullptr,
                               nullptr, nullptr);

    std::printf("%8s %16s %16s %14s\n", "MB", "rich edit load", "rich edit copy", "window copy");
    for (size_t mb : {1, 5, 20}) {
        const std::string bytes = History(mb * 1024 * 1024);
        std::ofstream(std::filesystem::path(file), std::ios::binary) << bytes;
        double load = 0, copy = 0;
        if (mb == 1) RichEditCopy(box, bytes, load, copy);
        auto start = Clock::now();
        form.PushButton5_Click();
        const double window = Ms(start);
        if (mb == 1)
            std::printf("%8zu %16.0f %16.0f %14.0f\n", mb, load, copy, window);
        else
            std::printf("%8zu %16s %16s %14.0f\n", mb, "-", "-", window);
    }
    DestroyWindow(box);
    DeleteFileW(file.c_str());
    return 0;
}
