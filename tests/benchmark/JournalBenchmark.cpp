// Reading a journal of 200,000 lines, as each run's first read and the
// Backups window's do, beside one bare read of the same file that only
// counts its lines.  Not a test: it asserts nothing and prints two lines.
#include "Milliseconds.h"
#include "engine/BackupJournal.h"
#include "support/Files.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

int wmain() {
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"Backups.journal");
    // 200 documents, 1,000 backups each, in folders of realistic depth; a
    // fifth never saved, some names outside Latin script.
    std::string text;
    for (int n = 0; n < 200'000; ++n) {
        const int document = n % 200;
        const bool unsaved = document % 5 == 0;
        const std::wstring name = (document % 7 == 0 ? L"\u0411\u044e\u0434\u0436\u0435\u0442 " : L"Quarterly report ") +
                                  std::to_wstring(document) + (unsaved ? L"" : L".docx");
        wchar_t stamp[64];
        swprintf(stamp, 64, L" Date Dec %d 2026 Time %02d %02d %02d PM.docx", n / 50'000 + 1, n / 3600 % 12 + 1,
                 n / 60 % 60, n % 60);
        JournalRecord record{{unsaved ? name : L"C:\\Users\\someone\\Documents\\Projects 2026\\" + name, unsaved,
                              {unsaved ? 4242u : 0u, unsaved ? 133'000'000'000'000'000ull : 0}},
                             name,
                             L"C:\\Users\\someone\\Documents\\Orvelle backups\\" + name + stamp,
                             133'000'000'000'000'000ull + n,
                             48'000u + n,
                             unsaved ? 133'000'000'000'000'000ull : 0};
        text += FormatJournalLine(record);
    }
    WriteFileBytes(file, text);
    for (int round = 0; round < 3; ++round) {
        size_t names = 0, lines = 0;
        const double journal = MillisecondsOf([&] {
            BackupJournal read(file);
            read.refresh();
            names = read.lines();
        });
        const double bare = MillisecondsOf([&] {
            const std::string bytes = ReadFileBytes(file);
            lines = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        });
        std::printf("journal of %zu lines (%.1f MB): read %6.0f ms, bare read and line count %5.0f ms\n", names,
                    text.size() / 1048576.0, journal, bare);
        (void)lines;
    }
    return 0;
}
