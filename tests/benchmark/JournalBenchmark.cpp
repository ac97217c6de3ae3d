// Reading a journal of 200,000 lines, as each run's first read and the
// Backups window's do, beside one bare read of the same file that only
// counts its lines; then the private memory of a process that holds it, as
// Orvelle does between runs, beside the same process with an empty journal.
// Not a test: it asserts nothing and prints.
#include "Milliseconds.h"
#include "PrivateMemory.h"
#include "common/Text.h"
#include "engine/BackupJournal.h"
#include "support/Files.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// As a process of its own: the journal read, and a backup looked up in it.
int Hold(const wchar_t* file, const wchar_t* path, const wchar_t* token) {
    FindOwnLinuxProcess(ToUtf8(token));
    BackupJournal journal(file);
    journal.refresh();
    const bool found = journal.find(path).has_value();
    std::printf("%zu %d %.2f\n", journal.lines(), found, PrivateMiB());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--hold") return Hold(argv[2], argv[3], argv[4]);
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
    std::vector<std::wstring> paths;  // every 20th line's, as housekeeping asks for a folder's files
    for (size_t at = 0, n = 0; (at = text.find('\n', at)) != std::string::npos; ++at, ++n)
        if (n % 20 == 0) {
            const size_t start = text.rfind('\n', at - 1) + 1;
            paths.push_back(ParseJournalLine(std::string_view(text).substr(start, at - start))->path);
        }
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
        BackupJournal read(file);
        read.refresh();
        size_t found = 0;
        const double lookups = MillisecondsOf([&] {
            for (const std::wstring& path : paths) found += read.find(path).has_value();
        });
        std::printf("journal of %zu lines (%.1f MB): read %6.0f ms, bare read and line count %5.0f ms, "
                    "%zu records looked up %4.0f ms (%zu found)\n",
                    names, text.size() / 1048576.0, journal, bare, paths.size(), lookups, found);
        (void)lines;
    }
    // A path of the middle of the journal, looked up as housekeeping does.
    const std::wstring asked =
        L"C:\\Users\\someone\\Documents\\Orvelle backups\\Quarterly report 1.docx Date Dec 1 2026 Time 01 00 01 PM.docx";
    WriteFileBytes(scratch.file(L"Empty.journal"), "");
    for (int round = 0; round < 3; ++round) {
        size_t lines[2] = {};
        int found[2] = {};
        double mib[2] = {};
        for (int full = 0; full < 2; ++full)
            std::sscanf(OutputOfOwnRun(L"--hold \"" + (full ? file : scratch.file(L"Empty.journal")) + L"\" \"" +
                                       asked + L"\"")
                            .c_str(),
                        "%zu %d %lf", &lines[full], &found[full], &mib[full]);
        std::printf("private memory holding the journal: %zu lines %6.2f MiB, empty %6.2f MiB, ratio %.2f "
                    "(target 1.5)%s\n",
                    lines[1], mib[1], mib[0], mib[0] > 0 ? mib[1] / mib[0] : 0.0, found[1] ? "" : ", NOT FOUND");
    }
    return 0;
}
