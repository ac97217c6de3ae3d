// How long one backup run takes over 1, 10 and 50 documents of about 100 KB,
// and how much of it the stand-in spent inside its own calls: the rest is
// the run's own overhead plus COM's transport.  Then the figures of the floor
// that a document cannot go below: the time of one cross-process round trip
// and the stand-in's own time per document, beside the time each document
// took (read off the history file, which gains one line per backed-up
// document).  Not a test: it asserts nothing and prints one line per size,
// then one "#floor" line for scripts/benchmark.  The classic way unless the
// first argument is "--package"; "--ways" runs 1 and 50 documents both ways
// and prints the package way's ratios to the classic way's; "--words" prints
// Word's time per run with one changed document among saved ones beside
// that one alone, and two Words beside one; "--trips saved|changed N" makes
// one package-way run over N saved (or changed) packages, for counting round
// trips.
#include "FixedFolderSettings.h"
#include "common/MonotonicClock.h"
#include "common/Text.h"
#include "engine/SaveWord.h"
#include "support/ComApartment.h"
#include "support/Docx.h"
#include "support/StandIn.h"
#include "support/TestServices.h"
#include "support/Thread.h"

#include <oleauto.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>

namespace {

using Settings = FixedFolderSettings;

std::wstring Text100K(int seed) {
    std::wstring line = L"Paragraph " + std::to_wstring(seed) + L": the quick brown fox jumps over the lazy dog.\n";
    std::wstring text;
    while (text.size() < 100 * 1024) text += line;
    return text;
}

double Ms(MonotonicClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Records when the history file grows while a run is under way: each growth
// is one more backed-up document.  Polled every millisecond from a thread of
// its own, since the run holds the main thread.
class HistoryWatch {
public:
    explicit HistoryWatch(std::wstring path) : path_(std::move(path)), thread_([this] { Watch(); }) {}
    ~HistoryWatch() { Stop(); }
    // The times between one document's line and the next one's.
    std::vector<double> Stop() {
        stop_ = true;
        thread_.join();
        std::vector<double> gaps;
        for (size_t i = 1; i < times_.size(); ++i) gaps.push_back(Ms(times_[i] - times_[i - 1]));
        return gaps;
    }

private:
    void Watch() {
        long long last = 0;
        while (!stop_) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
                long long size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                if (size > last) times_.push_back(MonotonicClock::now()), last = size;
            }
            Sleep(1);
        }
    }
    std::wstring path_;
    std::atomic<bool> stop_{false};
    std::vector<MonotonicClock::time_point> times_;
    Thread thread_;
};

// The fastest tenth of the per-document times: the time that a tenth of
// the documents took at most (their 10th percentile).
double FastestTenth(std::vector<double> times) {
    if (times.empty()) return 0;
    std::sort(times.begin(), times.end());
    return times[(times.size() - 1) / 10];
}

// One cross-process round trip: a property get by a DISPID asked once, from
// the user's Word, minus what the stand-in spent inside the call itself.
double RoundTripMs(const StandIn::Session& session) {
    auto word = StandIn::StartUserWord();
    CLSID clsid;
    IUnknown* unknown = nullptr;
    IDispatch* app = nullptr;
    if (FAILED(CLSIDFromProgID(L"Word.Application", &clsid)) || FAILED(GetActiveObject(clsid, nullptr, &unknown)) ||
        FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&app))))
        return 0;
    unknown->Release();
    LPOLESTR name = const_cast<LPOLESTR>(L"Version");
    DISPID id = 0;
    app->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    constexpr int kCalls = 400;
    size_t before = session.calls().size();
    auto start = MonotonicClock::now();
    for (int i = 0; i < kCalls; ++i) {
        DISPPARAMS none{};
        VARIANT result;
        VariantInit(&result);
        app->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        VariantClear(&result);
    }
    double total = Ms(MonotonicClock::now() - start);
    app->Release();
    auto calls = session.calls();
    long long inside = 0;
    for (size_t i = before; i < calls.size(); ++i) inside += calls[i].microseconds;
    return (total - inside / 1000.0) / kCalls;
}

// One run over count documents of about 100 KB, the one way or the other.
struct Timed {
    double totalMs = 0, insideMs = 0;
    std::vector<double> perDocument;
    DWORD sequenceBefore = 0, sequenceAfter = 0;  // the clipboard's
};
Timed TimedRun(int count, bool package) {
    StandIn::Session session;
    std::vector<std::wstring> files;
    for (int i = 0; i < count; ++i) files.push_back(session.folder().write(L"Doc" + std::to_wstring(i) + L".txt", Text100K(i)));
    Settings settings;
    settings.folder = session.folder().path();
    settings.history = session.folder().file(L"history.txt");
    settings.journal = session.folder().file(L"Backups.journal");
    settings.clipboardCopy = !package;
    auto word = StandIn::StartUserWord(files);
    size_t before = session.calls().size();

    Timed timed;
    timed.sequenceBefore = GetClipboardSequenceNumber();
    HistoryWatch watch(settings.history);
    auto start = MonotonicClock::now();
    SaveAll(settings);
    timed.totalMs = Ms(MonotonicClock::now() - start);
    timed.perDocument = watch.Stop();
    timed.sequenceAfter = GetClipboardSequenceNumber();
    auto calls = session.calls();
    long long inside = 0;
    for (size_t i = before; i < calls.size(); ++i) inside += calls[i].microseconds;
    timed.insideMs = inside / 1000.0;
    return timed;
}

// 1 and 50 documents each way: what the package way costs beside the classic.
void CompareWays() {
    const Timed classic1 = TimedRun(1, false), classic50 = TimedRun(50, false);
    const Timed package1 = TimedRun(1, true), package50 = TimedRun(50, true);
    const double further = (package50.totalMs - package1.totalMs) / 49,
                 classicFurther = (classic50.totalMs - classic1.totalMs) / 49;
    std::printf("%-44s %10s %10s %7s %8s\n", "the package way beside the classic way", "package", "classic", "ratio",
                "target");
    std::printf("%-44s %10.0f %10.0f %7.3f %8s\n", "one-document run, ms", package1.totalMs, classic1.totalMs,
                package1.totalMs / classic1.totalMs, "<= 0.1");
    std::printf("%-44s %10.1f %10.1f %7.2f %8s\n", "ms per further document", further, classicFurther,
                further / classicFurther, "<= 1.0");
    std::printf("%-44s %10lu -> %lu (%s; target: equal)\n", "clipboard sequence number, package way", package50.sequenceBefore,
                package50.sequenceAfter, package50.sequenceAfter == package50.sequenceBefore ? "equal" : "CHANGED");
}

// Documents of a Word, for the runs of the package way below.
struct Package {
    size_t bytes;  // on disk: a picture that does not compress makes up the size
    bool changed;  // typed into since it was saved: Word must give its package
};

// One package-way run over Words (each a list of packages) started in order.
// Word builds a package on its user-interface thread in proportion to its
// size (a 20 MB document takes seconds): WordOpenXML is slowed by 200 ms a
// megabyte.  Word's time is what the stand-ins spent inside their calls.
struct WordRun {
    double totalMs = 0, wordMs = 0;
    int packageReads = 0, backups = 0;
};
WordRun RunOverWords(const std::vector<std::vector<Package>>& words, bool slowPackages = true) {
    StandIn::Session session;
    if (slowPackages) StandIn::SetFault(L"serialise", {.member = L"WordOpenXML", .action = L"slow", .perMegabyte = 200});
    std::vector<StandIn::UserWord> running;
    int n = 0;
    for (const auto& packages : words) {
        std::vector<StandIn::RichFile> files;
        for (const Package& package : packages) {
            const std::wstring path = session.folder().file(L"Doc" + std::to_wstring(++n) + L".docx");
            std::string picture(package.bytes, '\0');
            for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>((i * 2654435761u + n) >> 13);
            WriteWordPackage(path, "Document " + std::to_string(n), picture);
            files.push_back({.file = path, .modified = package.changed});
        }
        running.push_back(StandIn::StartRichUserWord(files));
    }
    Settings settings;
    settings.folder = session.folder().path();
    settings.history = session.folder().file(L"history.txt");
    settings.journal = session.folder().file(L"Backups.journal");
    settings.clipboardCopy = false;
    const size_t before = session.calls().size();
    WordRun measured;
    const auto start = MonotonicClock::now();
    SaveAll(settings);
    measured.totalMs = Ms(MonotonicClock::now() - start);
    const auto calls = session.calls();
    for (size_t i = before; i < calls.size(); ++i) {
        measured.wordMs += calls[i].microseconds / 1000.0;
        measured.packageReads += calls[i].member == L"Document.WordOpenXML";
    }
    std::string history;
    try {
        history = ReadFileBytes(settings.history);
    } catch (const Failure&) {
    }
    measured.backups = static_cast<int>(std::count(history.begin(), history.end(), '\n'));
    return measured;
}

// Only what changed is asked of Word, and every Word of the user's costs no
// more than its documents.  Each pair is run five times, alternately: the
// medians (the machine's other work moves single runs by half).
void CompareWords() {
    constexpr size_t kTwoMb = 2 << 20;
    constexpr int kRepeats = 5;
    auto medians = [](const std::vector<std::vector<Package>>& a, const std::vector<std::vector<Package>>& b) {
        std::vector<WordRun> first, second;
        for (int i = 0; i < kRepeats; ++i) first.push_back(RunOverWords(a)), second.push_back(RunOverWords(b));
        auto median = [](std::vector<WordRun> runs, double WordRun::*field) {
            std::sort(runs.begin(), runs.end(), [&](const WordRun& x, const WordRun& y) { return x.*field < y.*field; });
            return runs[runs.size() / 2];
        };
        return std::array<WordRun, 4>{median(first, &WordRun::wordMs), median(second, &WordRun::wordMs),
                                      median(first, &WordRun::totalMs), median(second, &WordRun::totalMs)};
    };
    std::vector<Package> ten(10, Package{kTwoMb, false});
    ten[4].changed = true;
    const auto [all, alone, allTotal, aloneTotal] = medians({ten}, {{Package{kTwoMb, true}}});
    std::printf("%-44s %10s %10s %7s %8s\n", "Word's time per run, ms (median of 5)", "10 open", "1 open", "ratio",
                "target");
    std::printf("%-44s %10.0f %10.0f %7.2f %8s\n", "ten 2 MB documents, one changed", all.wordMs, alone.wordMs,
                all.wordMs / alone.wordMs, "<= 1.2");
    std::printf("%-44s %10d %10d\n", "WordOpenXML calls per run", all.packageReads, alone.packageReads);
    std::printf("%-44s %10d %10d\n", "backups written", all.backups, alone.backups);

    std::vector<Package> five(5, Package{kTwoMb, false});
    five[2].changed = true;
    std::vector<Package> tenOfOne = five;
    tenOfOne.insert(tenOfOne.end(), five.begin(), five.end());
    const auto [twoWord, oneWord, two, one] = medians({five, five}, {tenOfOne});
    std::printf("%-44s %10s %10s %7s %8s\n", "a second Word, ms per run (median of 5)", "2 Words", "1 Word", "ratio",
                "target");
    std::printf("%-44s %10.0f %10.0f %7.2f %8s\n", "ten 2 MB documents (two changed)", two.totalMs, one.totalMs,
                two.totalMs / one.totalMs, "<= 1.2");
    std::printf("%-44s %10d %10d %7s %8s\n", "backups written (each document once)", two.backups, one.backups, "",
                "10");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // For counting this process's round trips in Wine's trace apart from
    // those of the stand-ins it starts (their table registrations).
    if (GetEnvironmentVariableW(L"ORVELLE_BENCH_PID", nullptr, 0))
        std::fprintf(stderr, "#pid %04lx\n", GetCurrentProcessId());
    ComApartment com;
    int reports = 0;
    TestServices services;
    // A box means the measure is void: said, and the exit code tells.
    services.boxes = [&](const MessageBoxRequest& box) {
        std::fprintf(stderr, "box: %s\n", ToUtf8(box.text).c_str());
        return ++reports, IDOK;
    };
    const bool package = argc > 1 && std::wstring(argv[1]) == L"--package";
    if (argc > 1 && std::wstring(argv[1]) == L"--ways") return CompareWays(), reports ? 1 : 0;
    if (argc > 1 && std::wstring(argv[1]) == L"--words") return CompareWords(), reports ? 1 : 0;
    if (argc > 3 && std::wstring(argv[1]) == L"--trips") {
        const std::vector<Package> packages(_wtoi(argv[3]), Package{16 << 10, std::wstring(argv[2]) == L"changed"});
        RunOverWords({packages}, false);
        return reports ? 1 : 0;
    }
    // The sizes to run: those given, else 1, 10 and 50 documents.
    std::vector<int> sizes;
    for (int i = package ? 2 : 1; i < argc; ++i) sizes.push_back(_wtoi(argv[i]));
    if (sizes.empty()) sizes = {1, 10, 50};
    // The rest of one document's run is mostly the two Word instances the
    // run creates; the rest per further document is the run's own cost.
    std::printf("%6s %10s %13s %9s %22s\n", "docs", "total ms", "stand-in ms", "rest ms", "rest per further doc");
    double firstRest = 0, firstInside = 0, lastInside = 0;
    std::vector<double> perDocument;  // of the largest run
    for (int count : sizes) {
        Timed timed = TimedRun(count, package);
        perDocument = timed.perDocument;
        double totalMs = timed.totalMs, insideMs = timed.insideMs;
        double rest = totalMs - insideMs;
        if (count == sizes.front()) firstRest = rest, firstInside = insideMs;
        lastInside = insideMs;
        if (count == sizes.front())
            std::printf("%6d %10.0f %13.0f %9.0f %22s\n", count, totalMs, insideMs, rest, "");
        else
            std::printf("%6d %10.0f %13.0f %9.0f %19.1f ms\n", count, totalMs, insideMs, rest,
                        (rest - firstRest) / (count - sizes.front()));
    }
    // The floor's parts, and what a further document took: the fastest tenth
    // of the largest run's documents, and their median.
    StandIn::Session session;
    double roundTrip = RoundTripMs(session);
    double standInPerDocument = sizes.size() > 1 ? (lastInside - firstInside) / (sizes.back() - sizes.front()) : 0;
    std::vector<double> sorted = perDocument;
    std::sort(sorted.begin(), sorted.end());
    std::printf("#floor round-trip-ms %.3f stand-in-ms-per-doc %.2f doc-ms-fastest-tenth %.2f doc-ms-median %.2f\n",
                roundTrip, standInPerDocument, FastestTenth(perDocument),
                sorted.empty() ? 0.0 : sorted[sorted.size() / 2]);
    if (reports) std::printf("%d error reports during the runs\n", reports);
    return reports ? 1 : 0;
}
