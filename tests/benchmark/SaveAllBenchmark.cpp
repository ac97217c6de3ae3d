// How long one backup run takes over 1, 10 and 50 documents of about 100 KB,
// and how much of it the stand-in spent inside its own calls: the rest is
// the run's own overhead plus COM's transport.  Not a test: it asserts
// nothing and prints one line per size.
#include "MessageBox.h"
#include "SaveWord.h"
#include "StandIn.h"

#include <chrono>
#include <cstdio>

namespace {

struct Settings : BackupSettings {
    std::wstring folder, history;
    bool SaveBesideDocuments() const override { return false; }
    bool SaveToFixedFolder() const override { return true; }
    std::wstring FixedFolder() const override { return folder; }
    bool CreateNewFile() const override { return true; }
    std::wstring DocExtension() const override { return L".docx"; }
    std::wstring HistoryFile() const override { return history; }
    HWND owner = nullptr;
    HWND Owner() const override { return owner; }
};

std::wstring Text100K(int seed) {
    std::wstring line = L"Paragraph " + std::to_wstring(seed) + L": the quick brown fox jumps over the lazy dog.\n";
    std::wstring text;
    while (text.size() < 100 * 1024) text += line;
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The sizes to run: those given, else 1, 10 and 50 documents.
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(_wtoi(argv[i]));
    if (sizes.empty()) sizes = {1, 10, 50};
    ComApartment com;
    int reports = 0;
    SetMessageBoxHandler([&](const MessageBoxRequest&) { return ++reports, IDOK; });
    // The rest of one document's run is mostly the two Word instances the
    // run creates; the rest per further document is the run's own cost.
    std::printf("%6s %10s %13s %9s %22s\n", "docs", "total ms", "stand-in ms", "rest ms", "rest per further doc");
    double firstRest = 0;
    for (int count : sizes) {
        StandIn::Session session;
        std::vector<std::wstring> files;
        for (int i = 0; i < count; ++i) files.push_back(session.folder().write(L"Doc" + std::to_wstring(i) + L".txt", Text100K(i)));
        Settings settings;
        settings.folder = session.folder().path();
        settings.history = session.folder().file(L"history.txt");
        settings.owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        auto word = StandIn::StartUserWord(files);
        size_t before = session.calls().size();

        auto start = std::chrono::steady_clock::now();
        SaveAll(settings);
        double totalMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

        auto calls = session.calls();
        long long inside = 0;
        for (size_t i = before; i < calls.size(); ++i) inside += calls[i].microseconds;
        double insideMs = inside / 1000.0;
        double rest = totalMs - insideMs;
        if (count == sizes.front()) firstRest = rest;
        if (count == sizes.front())
            std::printf("%6d %10.0f %13.0f %9.0f %22s\n", count, totalMs, insideMs, rest, "");
        else
            std::printf("%6d %10.0f %13.0f %9.0f %19.1f ms\n", count, totalMs, insideMs, rest,
                        (rest - firstRest) / (count - sizes.front()));
    }
    if (reports) std::printf("%d error reports during the runs\n", reports);
    SetMessageBoxHandler(nullptr);
    return reports ? 1 : 0;
}
