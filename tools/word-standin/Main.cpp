// The "Word.Application" stand-in: a COM local server that answers the
// members the program uses the way Word answers them.
//
//   word-standin.exe /regserver | /unregserver
//   word-standin.exe -Embedding                  (started by COM: one fresh instance)
//   word-standin.exe [/hidden] [FILE [--header TEXT] [--image FILE.png] [--path TEXT] [--password]
//                    [--rights-managed] [--modified]]... [--unsaved NAME [...]]...
//                                                (the user's Word: the active object, unless
//                                                 another one is; /hidden: a program's Word)
//   word-standin.exe /answercopies TEXT [N]      (another program at the clipboard)
#include "common/Handle.h"
#include "Clipboard.h"
#include "Content.h"
#include "Control.h"
#include "Errors.h"
#include "Objects.h"
#include "Protocol.h"
#include "Registration.h"

#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A clipboard manager of the kind that writes at once when a copy arrives:
// it answers the next `left` copies made by a Word stand-in with its text.
struct Answerer {
    std::wstring text;
    long left = 0;  // negative: every copy
} g_answerer;

// Word registers as the active object unless another Word holds that
// registration, and takes it once that one has gone.
constexpr UINT_PTR kActiveTimer = 2;
DWORD g_activeCookie = 0;

bool AnotherWordIsActive() {
    IUnknown* active = nullptr;
    if (FAILED(GetActiveObject(standin::kClsid, nullptr, &active))) return false;
    active->Release();
    return true;
}

// Answers whether the registration is settled (made, or failed).
bool TryToBecomeActive(HWND window, bool& failed) {
    failed = false;
    if (AnotherWordIsActive()) return false;
    KillTimer(window, kActiveTimer);
    failed = FAILED(RegisterActiveObject(static_cast<IDispatch*>(&TheApplication()), standin::kClsid, ACTIVEOBJECT_STRONG, &g_activeCookie));
    return true;
}

void AnswerCopy(HWND window) {
    HWND owner = GetClipboardOwner();
    wchar_t kind[64] = {};
    if (!g_answerer.left || !owner || owner == window || !GetClassNameW(owner, kind, 64) ||
        std::wstring_view(kind) != standin::kWindowClass)
        return;
    if (g_answerer.left > 0) --g_answerer.left;
    try {
        PutTextOnClipboard(window, g_answerer.text);
    } catch (...) {
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLIPBOARDUPDATE: AnswerCopy(window); return 0;
    case WM_TIMER:
        if (wParam == kQuitTimer) DestroyWindow(window);
        if (wParam == kActiveTimer) {
            bool failed = false;
            TryToBecomeActive(window, failed);
        }
        return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case standin::kUserCloseMessage: {
        // The user's click: Word's event goes out from its message loop.
        const auto& open = TheApplication().documents().list();
        const auto answer = static_cast<UserAnswer>(lParam);
        if (wParam == 0) QuitAsUser();
        else if (wParam <= open.size()) CloseAsUser(*ComPtr<Document>(open[wParam - 1]).Get(), answer);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateHiddenWindow(HINSTANCE instance, const std::wstring& title) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = standin::kWindowClass;
    RegisterClassW(&wc);
    // A top-level window (not message-only) so that tests and scripts can
    // find it by class and close it with WM_CLOSE; it also owns the clipboard.
    return CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, instance,
                           nullptr);
}

bool Is(const std::wstring& arg, const wchar_t* name) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return false;
    return CompareStringOrdinal(arg.c_str() + 1, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// A document given on the command line, with what follows it there.
struct DocumentSpec {
    std::wstring name;    // a FILE, or the NAME of --unsaved
    std::wstring header;  // --header TEXT
    std::wstring image;   // --image FILE.png
    DocumentTraits traits;  // --path TEXT, --password, --rights-managed, --modified
    bool unsaved = false;
};

DocumentExtras ExtrasOf(const DocumentSpec& given) {
    return {given.header, given.image.empty() ? std::string() : ReadWholeFile(given.image)};
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);

    bool embedding = false, hidden = false;
    std::vector<DocumentSpec> files, unsaved;
    DocumentSpec* last = nullptr;
    std::wstring usage;
    for (size_t i = 0; i < args.size(); ++i) {
        if (Is(args[i], L"regserver")) return RegisterServer() ? 0 : 1;
        if (Is(args[i], L"unregserver")) return UnregisterServer() ? 0 : 1;
        if (Is(args[i], L"answercopies") && i + 1 < args.size()) {
            g_answerer.text = args[i + 1];
            g_answerer.left = i + 2 < args.size() ? std::wcstol(args[i + 2].c_str(), nullptr, 10) : -1;
            HWND window = CreateHiddenWindow(instance, L"Word stand-in (answerer)");
            if (!window || !AddClipboardFormatListener(window)) return 7;
            return RunMessageLoop();
        }
        const bool option = args[i] == L"--header" || args[i] == L"--image" || args[i] == L"--path";
        const bool flag = args[i] == L"--password" || args[i] == L"--rights-managed" || args[i] == L"--modified";
        if (Is(args[i], L"Embedding") || Is(args[i], L"Automation")) {
            embedding = true;
        } else if (Is(args[i], L"hidden")) {
            hidden = true;
        } else if ((option || args[i] == L"--unsaved") && i + 1 >= args.size()) {
            usage = args[i] + L" needs a value";
        } else if ((option || flag) && !last) {
            usage = args[i] + L" needs a FILE or --unsaved NAME before it";
        } else if (flag && args[i] == L"--modified" && last->unsaved) {
            usage = args[i] + L" needs a FILE before it";
        } else if (flag) {
            (args[i] == L"--password"         ? last->traits.hasPassword
             : args[i] == L"--rights-managed" ? last->traits.rightsManaged
                                              : last->traits.modified) = true;
        } else if (option) {
            std::wstring& field = args[i] == L"--header" ? last->header
                                  : args[i] == L"--image" ? last->image
                                                          : last->traits.location;
            field = args[++i];
        } else if (args[i] == L"--unsaved") {
            last = &unsaved.emplace_back(DocumentSpec{args[++i]});
            last->unsaved = true;
        } else {
            last = &files.emplace_back(DocumentSpec{args[i]});
        }
    }
    SetRole(embedding ? L"created" : hidden ? L"hidden" : L"user");

    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init)) return 4;

    HWND window = CreateHiddenWindow(
        instance, std::wstring(L"Word stand-in (") + Role() + L", " + std::to_wstring(GetCurrentProcessId()) + L")");
    RegisterDocumentWindowClasses(instance);
    CreateTheApplication(window, !embedding && !hidden);

    IMessageFilter* filter = NewServerMessageFilter();
    IMessageFilter* previousFilter = nullptr;
    CoRegisterMessageFilter(filter, &previousFilter);

    int exitCode = 0;
    DWORD classCookie = 0;
    if (embedding) {
        // Single use: COM starts a new process for the next creation, as
        // it does for Word.  Never registered by a hand-started instance.
        IClassFactory* factory = NewClassFactory();
        HRESULT hr = CoRegisterClassObject(standin::kClsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &classCookie);
        factory->Release();
        if (FAILED(hr)) exitCode = 5;
    } else {
        try {
            if (!usage.empty()) throw WordError(0, usage);
            for (const DocumentSpec& file : files)
                TheApplication().documents().open(OpenDocumentFile(file.name, ExtrasOf(file), file.traits));
            for (const DocumentSpec& given : unsaved) {
                ComPtr<Document> document;
                document.Attach(new Document(given.name, L"", L"", ExtrasOf(given), given.traits));
                document->setContent(ContentFromText(standin::UnsavedText(given.name)));  // typed, never saved
                TheApplication().documents().open(document);
            }
        } catch (const WordError& e) {
            LogCall(L"Application.Open", LogEscape(e.description), 0, L"error " + std::to_wstring(e.number));
            exitCode = 2;
        }
        // A program's Word never registers; a second user's Word waits.
        bool failed = false;
        if (exitCode == 0 && !hidden && !TryToBecomeActive(window, failed)) SetTimer(window, kActiveTimer, 200, nullptr);
        if (failed) exitCode = 6;
    }

    if (exitCode == 0) exitCode = RunMessageLoop();

    if (g_activeCookie) RevokeActiveObject(g_activeCookie, nullptr);
    // A Word that ends normally lets go of its files and owner files.
    for (const auto& document : TheApplication().documents().list()) document->releaseFile();
    if (classCookie) CoRevokeClassObject(classCookie);
    CoDisconnectObject(static_cast<IDispatch*>(&TheApplication()), 0);
    CoRegisterMessageFilter(previousFilter, nullptr);
    filter->Release();
    CoUninitialize();
    return exitCode;
}
