#include "SaveWord.h"

#include "AddFolder.h"
#include "Automation.h"
#include "Clipboard.h"
#include "Guard.h"
#include "Main.h"
#include "Text.h"

#include <chrono>
#include <set>

namespace {

constexpr wchar_t kLocation[] = L"in Quillbay2021/08/31.SaveWord.SaveAll ";

// A copy that never reaches the clipboard must not leave the run waiting
// forever, nor let older clipboard content pass as this document's.
constexpr auto kClipboardWaitBound = std::chrono::seconds(10);

// What a run holds that must be let go of even when the run cannot get
// back to its own end (the session ends while it waits).
struct RunState {
    Dispatch backup, scratch;
    std::optional<ClipboardSnapshot> userClipboard;
    bool finished = false;

    // Both instances of our own are told to quit; the user's never is.
    void quitInstances(Guard& guard) {
        if (backup) guard.step(50, [&] { backup.call(L"Quit"); });
        if (scratch) guard.step(51, [&] { scratch.call(L"Quit"); });
        backup.reset();
        scratch.reset();
    }
    void restoreClipboard(Guard& guard) {
        if (userClipboard) guard.step(52, [&] { userClipboard->restore(); });
        userClipboard.reset();
    }
};

RunState* g_run = nullptr;

class ActiveRun {
public:
    explicit ActiveRun(RunState& state) { g_run = &state; }
    ~ActiveRun() { g_run = nullptr; }
};

Dispatch Documents(const Dispatch& word) { return word.get(L"Documents").toDispatch(); }

short DocumentCount(const Dispatch& word) {
    long count = Documents(word).get(L"count").toLong();
    if (count < -32768 || count > 32767) throw Failure::Overflow();
    return static_cast<short>(count);
}

// Document i, passed by reference as a 16-bit integer.
Dispatch DocumentAt(const Dispatch& word, short& i) {
    return word.get(L"Documents", {Variant::ByRef(&i)}).toDispatch();
}

// True while the clipboard holds none of the formats that GetClipboardFormat
// recognises.  Each format's weight is added when GetClipboardFormat names
// it; the sum is then read as text, picture, both, or nothing.
bool IsClipboardEmpty() {
    Guard quiet = Guard::Quiet();
    static constexpr struct {
        long code;
        int weight;
    } kWeights[] = {{kFormatText, 1}, {kFormatRtf, 3},         {kFormatBitmap, 6},   {kFormatDib, 12},
                    {kFormatEnhMetafile, 18}, {kFormatMetafile, 24}, {kFormatPalette, 30}, {kFormatLink, 42}};
    int sum = 0;
    for (const auto& w : kWeights) quiet.step(2, [&] { sum += GetClipboardFormat() == w.code ? w.weight : 0; });
    int kind = 0;
    if (sum == 1 || sum == 3 || sum == 4) kind = 1;
    for (int k = 1; k <= 7; ++k) {
        if (sum == 6 * k) kind = 3;
        if (sum == 6 * k + 1 || sum == 6 * k + 3 || sum == 6 * k + 4) kind = 2;
    }
    return kind == 0;
}

// Waits, with the window messages running, until the clipboard offers one of
// the recognised formats.  Fails when the bound passes first.
void WaitForClipboard() {
    auto start = std::chrono::steady_clock::now();
    while (IsClipboardEmpty()) {
        if (std::chrono::steady_clock::now() - start >= kClipboardWaitBound)
            throw Failure::Text(L"The document's content did not reach the clipboard within 10 seconds.");
        Sleep(10);
        ProcessPendingMessages();
    }
}

// Copies the whole of document i to the clipboard and pastes it into target.
// The clipboard is emptied first, so that only this copy can end the wait.
// Answers false when the document was closed before it could be copied.
bool CopyDocumentInto(Guard& guard, int firstStep, const Dispatch& user, short& i, const Dispatch& target) {
    if (!guard.test(firstStep, [&] { return DocumentCount(user) >= i; })) return false;
    bool copied = false;
    guard.step(firstStep + 1, [&] {
        EmptyClipboardPatiently();
        Variant range = DocumentAt(user, i).get(L"Range");
        if (range.isObject()) range.toDispatch().call(L"Copy");
        WaitForClipboard();
        copied = true;
    });
    if (!copied) return false;
    bool pasted = false;
    guard.step(firstStep + 2, [&] {
        target.get(L"Range").toDispatch().call(L"Paste");
        pasted = true;
    });
    return pasted;
}

// File names compare without regard to case.
std::wstring Upper(std::wstring p) {
    CharUpperBuffW(p.data(), static_cast<DWORD>(p.size()));
    return p;
}

// A later document whose backup path this run already wrote gets " (2)",
// " (3)"... before the extension instead of replacing the earlier backup.
std::wstring Distinct(const std::wstring& path, const std::wstring& extension, const std::set<std::wstring>& written) {
    if (!written.count(Upper(path))) return path;
    std::wstring stem = path.substr(0, path.size() - extension.size());
    for (int n = 2;; ++n) {
        std::wstring candidate = stem + L" (" + std::to_wstring(n) + L")" + extension;
        if (!written.count(Upper(candidate))) return candidate;
    }
}

}  // namespace

bool IsBackupRunning() { return g_run != nullptr; }

void FinishRunNow() {
    if (!g_run || g_run->finished) return;
    g_run->finished = true;
    // Nobody is left to read a report: the window is closing.
    Guard quiet = Guard::Quiet();
    g_run->quitInstances(quiet);
    g_run->restoreClipboard(quiet);
}

void AppendHistoryLine(const std::wstring& historyFile, const std::wstring& line) {
    HANDLE file = CreateFileW(historyFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Failure::FromLastError();
    std::string bytes = ToAnsi(line + L"\r\n");
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok || written != bytes.size()) throw Failure::FromWin32(ok ? ERROR_WRITE_FAULT : error);
}

RunOutcome SaveAll(BackupSettings& settings) {
    // A click on the test button while a run waits for the clipboard or the
    // folder picker is ignored: the run under way covers every document.
    if (g_run) return RunOutcome::AlreadyRunning;
    RunState run;
    ActiveRun active(run);

    if (!IsWordRunning()) return RunOutcome::NoWord;
    settings.BackupStarted();
    struct Ended {
        BackupSettings& settings;
        ~Ended() { settings.BackupEnded(); }
    } ended{settings};

    Guard guard(kLocation);
    // Once a Word instance has gone away every later call on it would fail
    // and report again: one report, then the run ends.
    guard.stopAfter(IsServerGone);

    guard.step(1, [&] { run.userClipboard = ClipboardSnapshot::Take(); });

    Dispatch user;
    guard.step(2, [&] { user = Dispatch::GetActive(kWordProgId); });
    guard.step(3, [&] { run.backup = Dispatch::Create(kWordProgId); });
    guard.step(4, [&] { run.scratch = Dispatch::Create(kWordProgId); });

    short total = 0;
    guard.step(5, [&] { total = DocumentCount(user); });

    std::wstring folder;
    std::set<std::wstring> written;
    for (short i = 1; i <= total && !guard.stopped() && !run.finished; ++i) {
        // 4a: documents may have been closed while an earlier one waited.
        if (!guard.test(10, [&] { return DocumentCount(user) >= i; })) continue;
        std::wstring name;
        guard.step(11, [&] { name = DocumentAt(user, i).get(L"name").toText(); });

        // 4c: the folder.
        if (settings.SaveBesideDocuments()) {
            if (guard.test(12, [&] { return DocumentCount(user) >= i; }))
                guard.step(13, [&] { folder = DocumentAt(user, i).get(L"path").toText(); });
            // A never-saved document has no folder: ask until one is chosen,
            // unless the document is closed meanwhile.
            while (folder.empty() && !guard.stopped()) {
                guard.step(14, [&] {
                    folder = BrowseForFolder(settings.Owner(), name + L" is unsaved. Please select location:", L"");
                });
                if (folder.empty() && !guard.test(15, [&] { return DocumentCount(user) >= i; })) break;
            }
        } else if (settings.SaveToFixedFolder()) {
            guard.step(16, [&] { folder = settings.FixedFolder(); });
        }

        // 4d: the backup path.
        std::wstring path;
        guard.step(17, [&] {
            std::wstring base = NormalizeBackslashes(NormalizeBackslashes(folder + L"\\" + name));
            path = Distinct(BuildBackupName(base, settings.CreateNewFile(), settings.DocExtension()),
                            settings.DocExtension(), written);
        });

        // 4e-4i: copy into a new document of the backup instance and save it.
        Dispatch backupDocument;
        guard.step(20, [&] { backupDocument = Documents(run.backup).call(L"add").toDispatch(); });
        bool saved = false;
        if (CopyDocumentInto(guard, 21, user, i, backupDocument)) {
            guard.step(24, [&] {
                backupDocument.call(L"SaveAs", {}, {{L"fileName", path}});
                saved = true;
                written.insert(Upper(path));
            });
        }
        // Closed with saving only when the backup was written; an unsaved
        // backup document is discarded, never saved under a wrong content.
        guard.step(25, [&] {
            if (backupDocument) backupDocument.call(L"Close", {saved});
        });
        backupDocument.reset();

        // 4j: the same copy into a scratch document, closed unsaved.
        Dispatch scratchDocument;
        guard.step(30, [&] { scratchDocument = Documents(run.scratch).call(L"add").toDispatch(); });
        CopyDocumentInto(guard, 31, user, i, scratchDocument);
        guard.step(34, [&] {
            if (scratchDocument) scratchDocument.call(L"Close", {false});
        });
        scratchDocument.reset();

        // 4k, 4l.
        guard.step(40, [&] { user.put(L"DisplayAlerts", true); });
        // Only a backup that was written is logged.
        if (saved)
            guard.step(41, [&] {
                AppendHistoryLine(settings.HistoryFile(),
                                  name + L" was backup saved as " + path + L" at " + GeneralDate(LocalNow()));
            });
    }

    // 5, 6: unless a close has done it already.
    if (run.finished) return RunOutcome::Done;
    run.finished = true;
    user.reset();
    Guard cleanup(kLocation);
    run.quitInstances(cleanup);
    Guard restore(kLocation);
    run.restoreClipboard(restore);
    return RunOutcome::Done;
}
