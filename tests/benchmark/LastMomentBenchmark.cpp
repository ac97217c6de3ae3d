// Word's close of a changed 2 MB document with Orvelle listening (the
// document's package taken inside DocumentBeforeClose, written after), beside the same close
// without a listener and beside one WordOpenXML of that document, in one
// run: the median of seven of each.  The listener's added time should stay
// within one package read plus 100 ms.  Not a test: it prints one table.
#include "FixedFolderSettings.h"
#include "common/Automation.h"
#include "common/MonotonicClock.h"
#include "engine/DocumentBackup.h"
#include "engine/WordEvents.h"
#include "support/ComApartment.h"
#include "support/StandIn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace {

double Median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[values.size() / 2];
}

// What the window does at the event: a changed document's package is taken,
// within the bound; it is written once the close has returned.
struct Listener : WordEventsHandler {
    FixedFolderSettings& settings;
    BackupOptions options;
    std::shared_ptr<TakenDocument> taken;
    explicit Listener(FixedFolderSettings& s)
        : settings(s), options{.fixedFolder = s.folder, .historyFile = s.history, .journalFile = s.journal,
                               .owner = s.owner, .clipboardCopy = false} {}
    void DocumentClosing(const ListenedWord& word, const Dispatch& document) override {
        CallDeadline bound(std::chrono::seconds(3));
        taken = settings.run.TakeOne(word.app, word.process, document, options, settings);
    }
    void WordQuitting(const ListenedWord&) override {}
    bool write() { return taken && settings.run.WriteTaken(*std::exchange(taken, {}), options, settings).written; }
};

}  // namespace

int wmain() {
    ComApartment com;
    MessageFilterRegistration filter;
    StandIn::Session session;
    FixedFolderSettings settings;
    settings.folder = session.folder().path();
    settings.history = session.folder().file(L"history.txt");
    settings.journal = session.folder().file(L"journal.txt");
    std::wstring text;
    for (int i = 0; text.size() < 2 * 1024 * 1024; ++i)
        text += L"Paragraph " + std::to_wstring(i) + L": the quick brown fox jumps over the lazy dog.\n";
    const std::wstring file = session.folder().write(L"Big.txt", text);
    auto word = StandIn::StartUserWord({}, {L"Scratch"});
    const Dispatch app = Dispatch::GetActive(L"Word.Application");
    FoundWord found{app, nullptr, ProcessOfWord(app), true};  // as a run found it
    app.raw()->QueryInterface(IID_PPV_ARGS(&found.identity));
    const Dispatch documents = app.get(L"Documents").toDispatch();
    auto ms = [](auto from) { return std::chrono::duration<double, std::milli>(MonotonicClock::now() - from).count(); };
    int typed = 0;
    auto changedDocument = [&] {
        Dispatch document = documents.call(L"Open", {file}).toDispatch();
        document.call(L"Range").toDispatch().put(L"Text", text + L"typed " + std::to_wstring(++typed));
        return document;
    };

    // Interleaved, so that the machine's other work weighs on each alike.
    std::vector<double> without, with, read, written;
    Listener listener(settings);
    WordListeners listening(listener);
    for (int i = 0; i < 7; ++i) {
        Dispatch document = changedDocument();
        auto start = MonotonicClock::now();
        document.get(L"WordOpenXML");
        read.push_back(ms(start));
        start = MonotonicClock::now();
        document.call(L"Close", {false});
        without.push_back(ms(start));
        listening.listen(found);
        document = changedDocument();
        start = MonotonicClock::now();
        document.call(L"Close", {false});
        with.push_back(ms(start));
        start = MonotonicClock::now();
        if (!listener.write()) std::printf("no backup written at close %d\n", i + 1);
        written.push_back(ms(start));
        listening.forgetAll();
    }
    const double added = Median(with) - Median(without);
    std::printf("%-44s %10s\n", "close of a changed 2 MB document", "ms");
    std::printf("%-44s %10.1f\n", "  without Orvelle", Median(without));
    std::printf("%-44s %10.1f\n", "  with Orvelle listening", Median(with));
    std::printf("%-44s %10.1f\n", "  one WordOpenXML of it", Median(read));
    std::printf("%-44s %10.1f %8s %.1f\n", "  added by the backup at the close", added, "<=", Median(read) + 100);
    std::printf("%-44s %10.1f\n", "  its backup written after the close", Median(written));
    return 0;
}
