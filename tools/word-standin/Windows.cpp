// Word's window of each document: a top-level "OpusApp" window titled
// "NAME - Word" holding _WwF, _WwB and _WwG; the _WwG pane answers
// WM_GETOBJECT for OBJID_NATIVEOM with the document's Window object, which is
// how other programs reach a Word that is not the active object.
#include "Objects.h"

#include "Args.h"
#include "Control.h"
#include "Protocol.h"

#include <oleacc.h>

namespace {

constexpr const wchar_t* kFrameClass = standin::kDocumentWindowClass;
constexpr const wchar_t* kPaneClass = standin::kDocumentPaneClass;
constexpr wchar_t kFrameChildClass[] = L"_WwF", kBodyClass[] = L"_WwB";

// Closing a document's window is the user's close; "Don't Save" is the
// answer.  A close sent by another thread is let go first: Word's event is a
// call out, which COM refuses inside an input-synchronous send.
LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* document = reinterpret_cast<Document*>(GetWindowLongPtrW(frame, GWLP_USERDATA));
    if (message != WM_CLOSE || !document || document->closed()) return DefWindowProcW(frame, message, wParam, lParam);
    if (InSendMessage()) ReplyMessage(0);
    CloseAsUser(*ComPtr<Document>(document).Get(), UserAnswer::DontSave);
    return 0;
}

LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == static_cast<LONG>(OBJID_NATIVEOM)) {
        auto* document = reinterpret_cast<Document*>(GetWindowLongPtrW(pane, GWLP_USERDATA));
        // A Word that does not answer: a dialog's own loop, a hung thread.
        for (const FiredFault& fault : FaultsFor(FaultStage::Window, L"Window.WM_GETOBJECT", document ? document->name() : L""))
            if (fault.action == FaultAction::Fail) return 0;
            else if (fault.action == FaultAction::Slow) Sleep(fault.milliseconds);
        if (document && !document->closed()) {
            ComPtr<Window> window;
            window.Attach(new Window(document));
            return LresultFromObject(IID_IDispatch, wParam, static_cast<IDispatch*>(window.Get()));
        }
    }
    return DefWindowProcW(pane, message, wParam, lParam);
}

HWND Child(const wchar_t* kind, HWND parent) {
    return CreateWindowExW(0, kind, L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 150, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

const Member kWindowMembers[] = {
    {L"Application", 1000, MemberKind::Get, {}},
    {L"Document", 12, MemberKind::Get, {}},
    {L"Visible", 4, MemberKind::GetPut, {}},
    {L"Hwnd", 700, MemberKind::Get, {}},
};

}  // namespace

void RegisterDocumentWindowClasses(HINSTANCE instance) {
    for (const wchar_t* kind : {kFrameClass, kFrameChildClass, kBodyClass, kPaneClass}) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = kind == kPaneClass ? PaneProc : kind == kFrameClass ? FrameProc : DefWindowProcW;
        wc.hInstance = instance;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kind;
        RegisterClassW(&wc);
    }
}

void Document::createWindow(bool visible) {
    frame_ = CreateWindowExW(0, kFrameClass, (name_ + L" - Word").c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 320, 200,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND pane = Child(kPaneClass, Child(kBodyClass, Child(kFrameChildClass, frame_)));
    SetWindowLongPtrW(pane, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(frame_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    showWindow(visible);
}

void Document::showWindow(bool visible) {
    if (frame_) ShowWindow(frame_, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
}

std::span<const Member> Window::members() const { return kWindowMembers; }

void Window::call(const Member& member, bool put, Args& args, VARIANT& result) {
    document_->checkOpen();
    switch (member.id) {
    case 1000: SetObject(result, &TheApplication()); break;
    case 12: SetObject(result, document_.Get()); break;
    case 4:
        if (put) document_->showWindow(args.valueBool());
        else SetBool(result, IsWindowVisible(document_->frame()) != FALSE);
        break;
    case 700: SetLong(result, static_cast<long>(reinterpret_cast<LONG_PTR>(document_->frame()))); break;
    }
}
