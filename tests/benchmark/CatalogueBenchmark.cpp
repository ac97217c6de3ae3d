// The Backups window's listing of 20 documents with 10,000 backups each (a
// 20 MB history, a line per backup), beside a bare enumeration of the same
// folder plus one read of the history file.  Not a test: it prints.
#include "common/Text.h"
#include "mainwindow/BackupsWindow.h"
#include "support/Files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

double MillisecondsOf(auto&& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// What the listing cannot do without: every name and time of the folder,
// and every byte of the history.
size_t BareEnumerationAndRead(const std::wstring& folder, const std::wstring& history) {
    size_t seen = 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    do ++seen;
    while (FindNextFileW(find, &found));
    FindClose(find);
    HANDLE file = CreateFileW(history.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    std::string chunk(1 << 20, '\0');
    DWORD read = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read) seen += read;
    CloseHandle(file);
    return seen;
}

}  // namespace

int wmain() {
    ScratchFolder scratch;
    const std::wstring folder = scratch.file(L"Backups"), history = scratch.file(L"Orvelle.txt");
    CreateDirectoryW(folder.c_str(), nullptr);
    std::string lines;
    for (int d = 1; d <= 20; ++d)
        for (int n = 0; n < 10000; ++n) {
            wchar_t name[160];
            swprintf(name, 160, L"\\Chapter %02d.docx Date Dec 5 2026 Time %02d %02d %02d AM.docx", d,
                     n / 3600 % 12 + 1, n / 60 % 60, n % 60);
            const std::wstring path = folder + name;
            CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            lines += ToAnsi(L"Chapter " + std::to_wstring(d) + L".docx was backup saved as " + path +
                            L" at 12/5/2026 1:05:09 AM\r\n");
        }
    WriteFileBytes(history, lines);
    std::printf("history: %.1f MB, 200,000 lines\n", lines.size() / 1048576.0);

    double bare = 1e9, listing = 1e9;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, MillisecondsOf([&] { BareEnumerationAndRead(folder, history); }));
        listing = std::min(listing, MillisecondsOf([&] {
                               BackupsWindow window(history);
                               window.Show();  // documents listed, the first one's backups too
                           }));
    }
    std::printf("listing 20 documents x 10,000 backups:   %8.0f ms\n", listing);
    std::printf("bare enumeration + one history read:     %8.0f ms\n", bare);
    std::printf("ratio: %.2f (target at most 2)\n", listing / bare);
    return 0;
}
