#include "engine/WordInstances.h"

#include "common/Guard.h"
#include "common/Handle.h"
#include "common/Main.h"
#include "common/MonotonicClock.h"
#include "common/Text.h"
#include "engine/WebFolders.h"

#include <oleacc.h>

#include <algorithm>
#include <chrono>
#include <map>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kDocumentWindowClass[] = L"OpusApp", kDocumentPaneClass[] = L"_WwG";
// A Word whose windows do not answer within this long, together, is taken as
// hung: one bound per process, whatever number of windows it shows.
constexpr auto kWindowAnswer = std::chrono::milliseconds(5000);
// Each call into an object of the running-object table: other programs'
// objects are there too, and a Word found only there can wait a run.
constexpr auto kTableObjectAnswer = std::chrono::milliseconds(2000);

ComPtr<IUnknown> IdentityOf(const Dispatch& object) {
    ComPtr<IUnknown> identity;
    if (object) object.raw()->QueryInterface(IID_PPV_ARGS(&identity));
    return identity;
}

bool IsWord(const Dispatch& app) { return app.getDefault().toText() == L"Microsoft Word"; }

// The Word registered as the active one; empty when none is (or it is not Word).
Dispatch ActiveWord(Guard& quiet) {
    return quiet
        .value(1, [] {
            Dispatch app = Dispatch::GetActive(kWordProgId);
            return IsWord(app) ? app : Dispatch();
        })
        .value_or(Dispatch());
}

struct DocumentWindow {
    HWND frame;
    bool visible;
};

// Word's document windows, visible or not, by process.
std::map<DWORD, std::vector<DocumentWindow>> DocumentWindows() {
    std::map<DWORD, std::vector<DocumentWindow>> windows;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            wchar_t kind[16];
            if (GetClassNameW(window, kind, 16) && std::wstring_view(kind) == kDocumentWindowClass) {
                DWORD pid = 0;
                GetWindowThreadProcessId(window, &pid);
                (*reinterpret_cast<std::map<DWORD, std::vector<DocumentWindow>>*>(found))[pid].push_back(
                    {window, IsWindowVisible(window) != FALSE});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND PaneOf(HWND frame) {
    HWND pane = nullptr;
    EnumChildWindows(
        frame,
        [](HWND child, LPARAM out) -> BOOL {
            wchar_t kind[8];
            if (!GetClassNameW(child, kind, 8) || std::wstring_view(kind) != kDocumentPaneClass) return TRUE;
            *reinterpret_cast<HWND*>(out) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&pane));
    return pane;
}

// oleacc's ObjectFromLresult, loaded from the system folder the first time
// a document window is met: a start-up or run without Word never loads it.
HRESULT WindowObjectFromResult(LRESULT result, void** object) {
    using Function = HRESULT WINAPI(LRESULT, REFIID, WPARAM, void**);
    static Function* const function = [] {
        HMODULE oleacc = LoadLibraryW((SystemFolder() + L"\\oleacc.dll").c_str());
        return oleacc ? reinterpret_cast<Function*>(GetProcAddress(oleacc, "ObjectFromLresult")) : nullptr;
    }();
    return function ? function(result, IID_IDispatch, 0, object) : E_NOINTERFACE;
}

// The Word behind a document window: its pane's Window object (what
// AccessibleObjectFromWindow gives, asked within what is left of its
// process's bound, and never of a window that Windows takes for hung), then
// that window's Application.  unanswered: the window did not answer in time.
Dispatch WordOfWindow(HWND frame, MonotonicClock::time_point deadline, bool& unanswered) {
    HWND pane = PaneOf(frame);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - MonotonicClock::now());
    if (!pane) return {};
    DWORD_PTR answer = 0;
    if (left.count() <= 0 || !SendMessageTimeoutW(pane, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_NATIVEOM),
                                                  SMTO_ABORTIFHUNG, static_cast<UINT>(left.count()), &answer)) {
        unanswered = IsWindow(pane) != FALSE;
        return {};
    }
    if (static_cast<LRESULT>(answer) <= 0) return {};
    ComPtr<IDispatch> window;
    if (FAILED(WindowObjectFromResult(static_cast<LRESULT>(answer), reinterpret_cast<void**>(window.GetAddressOf()))))
        return {};
    return Dispatch(window).get(L"Application").toDispatch();
}

// The extensions of what Word opens as a document: its own kinds, and the
// text and web kinds.
constexpr std::wstring_view kWordDocumentExtensions[] = {L"DOCX", L"DOCM", L"DOTX", L"DOTM", L"DOC",   L"DOT",
                                                         L"RTF",  L"ODT",  L"TXT",  L"XML",  L"HTM",   L"HTML",
                                                         L"MHT",  L"MHTML", L"WPD", L"WPS"};

}  // namespace

WordProcess ProcessOf(DWORD processId) {
    WordProcess process{processId, 0};
    UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created, exited, kernel, user;
    if (handle && GetProcessTimes(handle.get(), &created, &exited, &kernel, &user))
        process.started = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return process;
}

bool WordInstances::known(const Dispatch& app) const {
    ComPtr<IUnknown> identity = IdentityOf(app);
    return std::ranges::any_of(words_, [&](const FoundWord& word) { return word.identity.Get() == identity.Get(); });
}

FoundWord* WordInstances::add(Dispatch app, WordProcess process) {
    ComPtr<IUnknown> identity = IdentityOf(app);
    if (!identity) return nullptr;
    for (FoundWord& known : words_)
        if (known.identity.Get() == identity.Get()) {
            if (!known.process.id) known.process = process;
            return &known;
        }
    words_.push_back({std::move(app), std::move(identity), process});
    return &words_.back();
}

WordState WordInstances::find() {
    CallScope calls;
    Guard quiet = Guard::Quiet();
    if (Dispatch active = ActiveWord(quiet)) add(std::move(active), {})->active = true;
    activeUnanswered_ = quiet.lastFailure() && DidNotAnswer(*quiet.lastFailure());
    // One window per process: a process is one Word.  Only a Word not known
    // yet is asked its name.
    for (const auto& [pid, windows] : DocumentWindows()) {
        const bool shown = std::ranges::any_of(windows, &DocumentWindow::visible);
        const auto deadline = MonotonicClock::now() + kWindowAnswer;
        bool unanswered = false;
        for (const DocumentWindow& window : windows) {
            Guard ask = Guard::Quiet();
            FoundWord* found = nullptr;
            ask.step(2, [&] {
                Dispatch app = WordOfWindow(window.frame, deadline, unanswered);
                if (app && (known(app) || IsWord(app))) found = add(std::move(app), ProcessOf(pid));
            });
            unanswered = unanswered || (ask.lastFailure() && DidNotAnswer(*ask.lastFailure()));
            if (found) found->shown = found->shown || shown;
            if (found || unanswered) break;
        }
        // A program's Word that hangs is none of the user's business.
        if (unanswered && shown) unanswered_.push_back(ProcessOf(pid));
    }
    if (std::ranges::any_of(words_, &FoundWord::backedUp)) return WordState::Running;
    return allAnswered() ? WordState::NotRunning : WordState::Busy;
}

std::vector<FoundWord> WordInstances::backedUp() const {
    std::vector<FoundWord> words;
    std::ranges::copy_if(words_, std::back_inserter(words), &FoundWord::backedUp);
    return words;
}

std::vector<FoundWord> WordInstances::fromRunningObjectTable(const std::set<std::wstring>& seen) {
    CallScope calls;
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> monikers;
    ComPtr<IBindCtx> context;
    if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&monikers)) ||
        FAILED(CreateBindCtx(0, &context)))
        return {};
    const size_t before = words_.size();
    for (ComPtr<IMoniker> moniker; monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
        DWORD kind = 0;
        LPOLESTR raw = nullptr;
        if (FAILED(moniker->IsSystemMoniker(&kind)) || kind != MKSYS_FILEMONIKER ||
            FAILED(moniker->GetDisplayName(context.Get(), nullptr, &raw)))
            continue;
        const std::wstring name = UpperCase(raw);
        CoTaskMemFree(raw);
        // Other programs' documents are there too: only Word's are asked,
        // each call briefly, and none after one that did not answer.
        if (seen.contains(name) || !IsWordDocumentName(name)) continue;
        Guard quiet = Guard::Quiet();
        quiet.step(3, [&] {
            CallScope brief(kTableObjectAnswer, kTableObjectAnswer);
            ComPtr<IUnknown> object;
            ComPtr<IDispatch> document;
            if (FAILED(table->GetObject(moniker.Get(), &object)) || !object || FAILED(object.As(&document))) return;
            Dispatch app = Dispatch(document).get(L"Application").toDispatch();
            if (known(app) || !IsWord(app)) return;
            const bool visible = app.get(L"Visible").toBool();
            add(std::move(app), {})->shown = visible;
        });
        if (quiet.lastFailure() && DidNotAnswer(*quiet.lastFailure())) {
            tableUnanswered_ = true;
            break;
        }
    }
    std::vector<FoundWord> added;
    for (size_t i = before; i < words_.size(); ++i)
        if (words_[i].shown) added.push_back(words_[i]);
    return added;
}

Dispatch AnyRunningWord() {
    // Start-up asks twice: the windows of every Word are asked only without an active one.
    CallScope calls;
    Guard quiet = Guard::Quiet();
    if (Dispatch active = ActiveWord(quiet)) return active;
    WordInstances instances;
    instances.find();
    const std::vector<FoundWord> words = instances.backedUp();
    return words.empty() ? Dispatch() : words.front().app;
}

bool IsWordDocumentName(std::wstring_view name) {
    // A web address may carry a query or a fragment after the file's name.
    if (IsWebAddress(name)) name = name.substr(0, name.find_first_of(L"?#"));
    const size_t dot = name.find_last_of(L"./\\");
    if (dot == std::wstring_view::npos || name[dot] != L'.') return false;
    const std::wstring extension = UpperCase(name.substr(dot + 1));
    return std::ranges::find(kWordDocumentExtensions, extension) != std::end(kWordDocumentExtensions);
}
