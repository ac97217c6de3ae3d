#include "engine/WordInstances.h"

#include "common/Guard.h"
#include "common/Handle.h"
#include "common/Main.h"
#include "common/Text.h"

#include <oleacc.h>

#include <algorithm>
#include <map>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kDocumentWindowClass[] = L"OpusApp", kDocumentPaneClass[] = L"_WwG";
// A window whose thread does not answer within this long is taken as hung.
constexpr UINT kWindowAnswerMs = 5000;

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
// AccessibleObjectFromWindow gives, asked with a bound so that a hung Word
// cannot hold the run), then that window's Application.
Dispatch WordOfWindow(HWND frame) {
    HWND pane = PaneOf(frame);
    DWORD_PTR answer = 0;
    if (!pane || !SendMessageTimeoutW(pane, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_NATIVEOM), SMTO_ABORTIFHUNG,
                                      kWindowAnswerMs, &answer) ||
        static_cast<LRESULT>(answer) <= 0)
        return {};
    ComPtr<IDispatch> window;
    if (FAILED(WindowObjectFromResult(static_cast<LRESULT>(answer), reinterpret_cast<void**>(window.GetAddressOf()))))
        return {};
    return Dispatch(window).get(L"Application").toDispatch();
}

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
    Guard quiet = Guard::Quiet();
    auto busy = [&] { busy_ = busy_ || (quiet.lastFailure() && IsServerBusy(*quiet.lastFailure())); };
    if (Dispatch active = ActiveWord(quiet)) add(std::move(active), {})->active = true;
    busy();
    // One window per process: a process is one Word.  Only a Word not known
    // yet is asked its name.
    for (const auto& [pid, windows] : DocumentWindows()) {
        for (const DocumentWindow& window : windows) {
            FoundWord* found = nullptr;
            quiet.step(2, [&] {
                Dispatch app = WordOfWindow(window.frame);
                if (app && (known(app) || IsWord(app))) found = add(std::move(app), ProcessOf(pid));
            });
            busy();
            if (!found) continue;
            found->shown = found->shown || std::ranges::any_of(windows, &DocumentWindow::visible);
            break;
        }
    }
    if (std::ranges::any_of(words_, &FoundWord::backedUp)) return WordState::Running;
    return busy_ ? WordState::Busy : WordState::NotRunning;
}

std::vector<FoundWord> WordInstances::backedUp() const {
    std::vector<FoundWord> words;
    std::ranges::copy_if(words_, std::back_inserter(words), &FoundWord::backedUp);
    return words;
}

std::vector<FoundWord> WordInstances::fromRunningObjectTable(const std::set<std::wstring>& seen) {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> monikers;
    ComPtr<IBindCtx> context;
    if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&monikers)) ||
        FAILED(CreateBindCtx(0, &context)))
        return {};
    Guard quiet = Guard::Quiet();
    const size_t before = words_.size();
    for (ComPtr<IMoniker> moniker; monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
        DWORD kind = 0;
        LPOLESTR raw = nullptr;
        if (FAILED(moniker->IsSystemMoniker(&kind)) || kind != MKSYS_FILEMONIKER ||
            FAILED(moniker->GetDisplayName(context.Get(), nullptr, &raw)))
            continue;
        const std::wstring name = UpperCase(raw);
        CoTaskMemFree(raw);
        if (seen.contains(name)) continue;
        // Other programs' documents are there too: only Word's count.
        quiet.step(3, [&] {
            ComPtr<IUnknown> object;
            ComPtr<IDispatch> document;
            if (FAILED(table->GetObject(moniker.Get(), &object)) || !object || FAILED(object.As(&document))) return;
            Dispatch app = Dispatch(document).get(L"Application").toDispatch();
            if (known(app) || !IsWord(app)) return;
            const bool visible = app.get(L"Visible").toBool();
            add(std::move(app), {})->shown = visible;
        });
    }
    std::vector<FoundWord> added;
    for (size_t i = before; i < words_.size(); ++i)
        if (words_[i].shown) added.push_back(words_[i]);
    return added;
}

Dispatch AnyRunningWord() {
    // Start-up asks twice: the windows of every Word are asked only without an active one.
    Guard quiet = Guard::Quiet();
    if (Dispatch active = ActiveWord(quiet)) return active;
    WordInstances instances;
    instances.find();
    const std::vector<FoundWord> words = instances.backedUp();
    return words.empty() ? Dispatch() : words.front().app;
}
