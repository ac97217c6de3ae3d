// Word's application events: the ApplicationEvents2 connection point of the
// application object, and the user's close that fires them.  Listeners are
// called through IDispatch::Invoke by DISPID, arguments in reverse order,
// Cancel by reference; Word waits for each, and serves their calls back
// meanwhile (the message filter lets them in).
#include "Control.h"
#include "Objects.h"
#include "common/ComObject.h"

#include <olectl.h>

namespace {

class ConnectionPoint final : public ComObject<IConnectionPoint, IID_IConnectionPoint> {
public:
    explicit ConnectionPoint(Application& application) : application_(&application) {}
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = kApplicationEvents2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
        if (!out) return E_POINTER;
        return application_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        return application_->events().advise(sink, cookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override { return application_->events().unadvise(cookie); }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    ComPtr<Application> application_;
};

long long Elapsed(ULONGLONG since) { return static_cast<long long>(GetTickCount64() - since) * 1000; }

}  // namespace

HRESULT Application::QueryInterface(REFIID riid, void** out) {
    if (out && riid == IID_IConnectionPointContainer) {
        *out = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return S_OK;
    }
    return DispatchObject::QueryInterface(riid, out);
}

HRESULT Application::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT Application::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != kApplicationEvents2) return CONNECT_E_NOCONNECTION;
    *out = new ConnectionPoint(*this);
    return S_OK;
}

HRESULT EventListeners::advise(IUnknown* sink, DWORD* cookie) {
    const ULONGLONG start = GetTickCount64();
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    HRESULT hr = S_OK;
    for (const FiredFault& fault : FaultsFor(FaultStage::Invoke, L"ApplicationEvents.Advise", L""))
        if (fault.action == FaultAction::Fail) hr = CONNECT_E_CANNOTCONNECT;
    // As a connection point does: the sink is asked for the events' own
    // interface (a dispinterface, marshalled as IDispatch).
    ComPtr<IDispatch> listener;
    if (hr == S_OK && FAILED(sink->QueryInterface(kApplicationEvents2, reinterpret_cast<void**>(listener.GetAddressOf()))))
        hr = CONNECT_E_CANNOTCONNECT;
    if (hr == S_OK) sinks_.emplace_back(*cookie = ++next_, listener);
    LogCall(L"ApplicationEvents.Advise", L"", Elapsed(start), hr == S_OK ? L"ok" : L"error 0x80040202");
    return hr;
}

HRESULT EventListeners::unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->first == cookie) {
            sinks_.erase(it);
            LogCall(L"ApplicationEvents.Unadvise", L"", 0, L"ok");
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

bool EventListeners::beforeClose(Document& document) {
    // A document that Word closes before the listener can read it.
    for (const FiredFault& fault : FaultsFor(FaultStage::Invoke, L"ApplicationEvents.DocumentBeforeClose", document.name()))
        if (fault.action == FaultAction::Gone && !document.closed()) document.close(false);
    const std::wstring described = L"Object \"" + LogEscape(document.fullName()) + L"\"";
    ComPtr<Document> held(&document);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    // Listeners may come and go inside the event: a snapshot is called.
    const auto sinks = sinks_;
    for (const auto& [cookie, sink] : sinks) {
        const ULONGLONG start = GetTickCount64();
        VARIANT args[2];
        V_VT(&args[0]) = VT_BOOL | VT_BYREF;
        V_BOOLREF(&args[0]) = &cancel;
        V_VT(&args[1]) = VT_DISPATCH;
        V_DISPATCH(&args[1]) = static_cast<IDispatch*>(&document);
        DISPPARAMS params{args, nullptr, 2, 0};
        const HRESULT hr =
            sink->Invoke(kEventDocumentBeforeClose, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        wchar_t outcome[32];
        swprintf(outcome, 32, hr == S_OK ? (cancel ? L"cancelled" : L"ok") : L"error 0x%08lX", static_cast<unsigned long>(hr));
        LogCall(L"ApplicationEvents.DocumentBeforeClose", described, Elapsed(start), outcome);
    }
    return cancel != VARIANT_FALSE;
}

void EventListeners::quit() {
    const auto sinks = sinks_;
    for (const auto& [cookie, sink] : sinks) {
        const ULONGLONG start = GetTickCount64();
        DISPPARAMS none{};
        const HRESULT hr = sink->Invoke(kEventQuit, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        LogCall(L"ApplicationEvents.Quit", L"", Elapsed(start), hr == S_OK ? L"ok" : L"error");
    }
}

bool CloseAsUser(Document& document, UserAnswer answer) {
    ComPtr<Document> held(&document);
    if (TheApplication().events().beforeClose(document) || answer == UserAnswer::Cancel) return false;
    if (!document.closed()) document.close(answer == UserAnswer::Save);
    return true;
}

bool QuitAsUser() {
    const auto open = TheApplication().documents().list();
    for (const auto& document : open)
        if (!CloseAsUser(*document.Get(), UserAnswer::DontSave)) return false;
    TheApplication().events().quit();
    SetTimer(TheApplication().window(), kQuitTimer, 100, nullptr);
    return true;
}
