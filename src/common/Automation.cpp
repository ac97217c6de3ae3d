#include "common/Automation.h"

#include "common/ComObject.h"
#include "common/Handle.h"
#include "common/MessagePump.h"
#include "common/MonotonicClock.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

std::atomic<long long> g_busyBoundMs{30000};
// The calling thread's CallDeadline: a GetTickCount64 value, 0 for none.
thread_local ULONGLONG t_deadline = 0;

bool DeadlinePassed() { return t_deadline && GetTickCount64() >= t_deadline; }
std::atomic<long long> g_callBoundMs{AnswerBounds{}.call.count()}, g_documentBoundMs{AnswerBounds{}.document.count()};

bool IsBusy(HRESULT hr) { return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER; }

using Ms = std::chrono::milliseconds;
Ms Since(MonotonicClock::time_point start) { return std::chrono::duration_cast<Ms>(MonotonicClock::now() - start); }

// How often a thread inside a CallScope is woken while it waits for an
// answer: the filter sees a call's age only when a message arrives.
constexpr DWORD kWakeMs = 250;

// This thread's open CallScopes.
struct ThreadCalls {
    int depth = 0;
    Ms answer{0};                // the innermost scope's bound; 0: the base bound
    Ms busyRetry = Ms::max();    // the innermost scope's per-call busy bound
    Ms busySpent{0};             // waited on refusals since the outermost scope opened
    bool refused = false;        // the filter retried a refusal during the call under way
    PTP_TIMER waker = nullptr;
};
thread_local ThreadCalls t_calls;

Ms AnswerBound() { return t_calls.answer.count() ? t_calls.answer : Ms(g_callBoundMs.load()); }

// How long the call about to be made may wait on refusals: what is left of
// the outermost scope's budget, at most the innermost scope's bound.
Ms BusyAllowance() {
    const Ms budget = BusyRetryBound() - t_calls.busySpent;
    return std::max(Ms(0), std::min(budget, t_calls.busyRetry));
}

// Posts a message the thread ignores, so that its COM wait looks up: COM
// asks the filter about a call only when a message comes.
void CALLBACK Wake(PTP_CALLBACK_INSTANCE, void* thread, PTP_TIMER) {
    PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<uintptr_t>(thread)), WM_NULL, 0, 0);
}

// Waits `pause` with the thread's messages running: no Sleep on a window's
// thread.
void PumpFor(Ms pause) {
    const auto start = MonotonicClock::now();
    for (Ms left = pause; left.count() > 0; left = pause - Since(start)) {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        ProcessPendingMessages();
    }
}

// A busy server (Word with a dialog open) refuses calls for a while: retry
// with the message queue running while the scope's busy budget lasts.  The
// whole call counts against it once it has been refused, by our loop or by
// the filter's retries (Windows).
template <class F>
HRESULT WithBusyRetry(F&& attempt) {
    CallScope scope;
    const Ms allowed = BusyAllowance();
    const auto start = MonotonicClock::now();
    bool refused = false;
    for (;;) {
        t_calls.refused = false;
        HRESULT hr = attempt();
        refused = refused || t_calls.refused || IsBusy(hr);
        if (!IsBusy(hr) || Since(start) >= allowed || DeadlinePassed()) {
            if (refused) t_calls.busySpent += Since(start);
            return hr;
        }
        PumpFor(Ms(100));
    }
}

Failure FailureFromException(EXCEPINFO& info, HRESULT hr) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    HRESULT code = info.scode ? info.scode : hr;
    Bstr description(info.bstrDescription), source(info.bstrSource), helpFile(info.bstrHelpFile);
    std::wstring text = description ? std::wstring(description.get()) : std::wstring();
    if (text.empty()) text = SystemMessage(code);
    return Failure(static_cast<long>(code), text);
}

CLSID ClassOf(const std::wstring& progId) {
    CLSID clsid;
    ThrowIfFailed(CLSIDFromProgID(progId.c_str(), &clsid));
    return clsid;
}

class MessageFilter final : public ComObject<IMessageFilter, IID_IMessageFilter> {
public:
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD) override {
        // Retry after a short pause while the budget lasts; -1 cancels the call.
        t_calls.refused = true;
        if (DeadlinePassed()) return static_cast<DWORD>(-1);
        return Ms(elapsedMs) < BusyAllowance() ? 250 : static_cast<DWORD>(-1);
    }
    // A call that has waited past its bound is given up: the server has
    // taken it and does not answer (hung, or waiting on something of its
    // own).  Windows then ends the call at once with RPC_E_CALL_CANCELED;
    // Wine 8 notes the cancel but waits on for the answer.
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD elapsedMs, DWORD) override {
        return DeadlinePassed() || Ms(elapsedMs) >= AnswerBound() ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
    }
};

}  // namespace

CallDeadline::CallDeadline(std::chrono::milliseconds bound) : previous_(t_deadline) {
    const ULONGLONG at = GetTickCount64() + static_cast<ULONGLONG>(bound.count());
    if (!t_deadline || at < t_deadline) t_deadline = at;
    // The filter is asked only when a message arrives: a thread timer makes sure one does.
    timer_ = SetTimer(nullptr, 0, 50, nullptr);
}

CallDeadline::~CallDeadline() {
    if (timer_) KillTimer(nullptr, timer_);
    t_deadline = previous_;
}

bool CallDeadline::passed() const { return DeadlinePassed(); }

std::chrono::milliseconds BusyRetryBound() { return std::chrono::milliseconds(g_busyBoundMs.load()); }
void SetBusyRetryBound(std::chrono::milliseconds bound) { g_busyBoundMs = bound.count(); }

AnswerBounds CallAnswerBounds() { return {Ms(g_callBoundMs.load()), Ms(g_documentBoundMs.load())}; }
void SetCallAnswerBounds(AnswerBounds bounds) {
    g_callBoundMs = bounds.call.count();
    g_documentBoundMs = bounds.document.count();
}

CallScope::CallScope() : CallScope(t_calls.answer, t_calls.busyRetry) {}

CallScope::CallScope(std::chrono::milliseconds answer, std::chrono::milliseconds busyRetry)
    : answer_(t_calls.answer), busyRetry_(t_calls.busyRetry) {
    t_calls.answer = answer;
    t_calls.busyRetry = busyRetry;
    if (t_calls.depth++ > 0) return;
    t_calls.busySpent = Ms(0);
    // The thread is woken while the outermost scope lives; a thread without
    // a message queue is not waiting in a COM modal loop, and the post fails.
    void* thread = reinterpret_cast<void*>(static_cast<uintptr_t>(GetCurrentThreadId()));
    if ((t_calls.waker = CreateThreadpoolTimer(Wake, thread, nullptr))) {
        ULARGE_INTEGER relative;
        relative.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(kWakeMs) * 10'000);  // 100 ns units
        FILETIME due = {relative.LowPart, relative.HighPart};
        SetThreadpoolTimer(t_calls.waker, &due, kWakeMs, kWakeMs / 5);
    }
}

CallScope::~CallScope() {
    t_calls.answer = answer_;
    t_calls.busyRetry = busyRetry_;
    if (--t_calls.depth > 0 || !t_calls.waker) return;
    SetThreadpoolTimer(t_calls.waker, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(t_calls.waker, TRUE);
    CloseThreadpoolTimer(std::exchange(t_calls.waker, nullptr));
}

MessageFilterRegistration::MessageFilterRegistration() {
    auto* filter = new MessageFilter;
    registered_ = SUCCEEDED(CoRegisterMessageFilter(filter, &previous_));
    filter->Release();
}

MessageFilterRegistration::~MessageFilterRegistration() {
    if (!registered_) return;
    IMessageFilter* ours = nullptr;
    CoRegisterMessageFilter(previous_, &ours);
    if (ours) ours->Release();
    if (previous_) previous_->Release();
}

// ---- Variant ---------------------------------------------------------------

Variant::Variant(const wchar_t* text) : Variant(std::wstring(text)) {}
Variant::Variant(const std::wstring& text) {
    VariantInit(&v_);
    V_VT(&v_) = VT_BSTR;
    V_BSTR(&v_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
Variant::Variant(bool value) {
    VariantInit(&v_);
    V_VT(&v_) = VT_BOOL;
    V_BOOL(&v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Variant::Variant(short value) {
    VariantInit(&v_);
    V_VT(&v_) = VT_I2;
    V_I2(&v_) = value;
}
Variant::Variant(int value) {
    VariantInit(&v_);
    V_VT(&v_) = VT_I4;
    V_I4(&v_) = value;
}
Variant::Variant(double value) {
    VariantInit(&v_);
    V_VT(&v_) = VT_R8;
    V_R8(&v_) = value;
}
Variant::Variant(const Dispatch& object) {
    VariantInit(&v_);
    V_VT(&v_) = VT_DISPATCH;
    V_DISPATCH(&v_) = object.raw();
    if (object.raw()) object.raw()->AddRef();
}
Variant::Variant(const Variant& other) {
    VariantInit(&v_);
    ThrowIfFailed(VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)));
}
Variant::Variant(Variant&& other) noexcept {
    v_ = other.v_;
    VariantInit(&other.v_);
}
Variant& Variant::operator=(Variant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
}

Variant Variant::Adopt(VARIANT& raw) {
    Variant v;
    v.v_ = raw;
    VariantInit(&raw);
    return v;
}

Variant Variant::ByRef(short* target) {
    Variant v;
    V_VT(&v.v_) = VT_BYREF | VT_I2;
    V_I2REF(&v.v_) = target;
    return v;
}

bool Variant::isObject() const {
    VARTYPE t = type() & ~VT_BYREF;
    if (t != VT_DISPATCH && t != VT_UNKNOWN) return false;
    IUnknown* p = (type() & VT_BYREF) ? *V_UNKNOWNREF(&v_) : V_UNKNOWN(&v_);
    return p != nullptr;
}

namespace {
VARIANT Converted(const VARIANT& from, VARTYPE to) {
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = VariantChangeTypeEx(&out, const_cast<VARIANT*>(&from), LOCALE_USER_DEFAULT, 0, to);
    if (FAILED(hr)) throw hr == DISP_E_OVERFLOW ? Failure::Overflow() : Failure::TypeMismatch();
    return out;
}
}  // namespace

std::wstring Variant::toText() const {
    if (type() == VT_BSTR) return V_BSTR(&v_) ? std::wstring(V_BSTR(&v_), SysStringLen(V_BSTR(&v_))) : std::wstring();
    VARIANT t = Converted(v_, VT_BSTR);
    std::wstring text = V_BSTR(&t) ? std::wstring(V_BSTR(&t), SysStringLen(V_BSTR(&t))) : std::wstring();
    VariantClear(&t);
    return text;
}

bool Variant::toBool() const {
    VARIANT t = Converted(v_, VT_BOOL);
    return V_BOOL(&t) != VARIANT_FALSE;
}

long Variant::toLong() const {
    VARIANT t = Converted(v_, VT_I4);
    return V_I4(&t);
}

double Variant::toDouble() const {
    VARIANT t = Converted(v_, VT_R8);
    return V_R8(&t);
}

ComPtr<IUnknown> Variant::toUnknown() const {
    if (!isObject()) throw Failure::TypeMismatch();
    return ComPtr<IUnknown>((type() & VT_BYREF) ? *V_UNKNOWNREF(&v_) : V_UNKNOWN(&v_));
}

Dispatch Variant::toDispatch() const {
    if (!isObject()) throw Failure::TypeMismatch();
    IUnknown* p = (type() & VT_BYREF) ? *V_UNKNOWNREF(&v_) : V_UNKNOWN(&v_);
    ComPtr<IDispatch> d;
    ThrowIfFailed(p->QueryInterface(IID_PPV_ARGS(&d)));
    return Dispatch(std::move(d));
}

// ---- Dispatch --------------------------------------------------------------

Dispatch Dispatch::Create(const std::wstring& progId) {
    CLSID clsid = ClassOf(progId);
    ComPtr<IDispatch> object;
    // A server that starts may take as long as a document does.
    CallScope starting(CallAnswerBounds().document);
    ThrowIfFailed(WithBusyRetry([&] {
        return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
    }));
    return Dispatch(std::move(object));
}

Dispatch Dispatch::GetActive(const std::wstring& progId) {
    CLSID clsid = ClassOf(progId);
    CallScope scope;  // taking the object from the table may call its server
    ComPtr<IUnknown> unknown;
    ThrowIfFailed(GetActiveObject(clsid, nullptr, &unknown));
    ComPtr<IDispatch> object;
    ThrowIfFailed(WithBusyRetry([&] { return unknown.As(&object); }));
    return Dispatch(std::move(object));
}

const std::vector<DISPID>* MemberIds::find(const std::wstring& key) const {
    auto it = ids_.find(key);
    return it == ids_.end() ? nullptr : &it->second;
}

std::vector<DISPID> Dispatch::idsOf(const std::vector<std::wstring>& names) const {
    if (!object_) throw Failure::ObjectNotSet();
    std::wstring key;
    for (const auto& name : names) key += name + L'\n';
    if (!ids_) ids_ = std::make_shared<MemberIds>();
    if (const auto* known = ids_->find(key)) return *known;
    std::vector<LPOLESTR> raw;
    for (const auto& name : names) raw.push_back(const_cast<LPOLESTR>(name.c_str()));
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    ThrowIfFailed(WithBusyRetry([&] {
        return object_->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()), LOCALE_USER_DEFAULT,
                                      ids.data());
    }));
    ids_->add(key, ids);
    return ids;
}

DISPID Dispatch::idOf(const std::wstring& name) const { return idsOf({name})[0]; }

Variant Dispatch::invoke(DISPID id, WORD flags, std::vector<Variant> args, std::vector<DISPID> namedIds,
                         std::vector<Variant> namedValues) const {
    if (!object_) throw Failure::ObjectNotSet();
    // rgvarg holds the named arguments first, then the positional ones in
    // reverse order.
    std::vector<VARIANT> raw;
    raw.reserve(namedValues.size() + args.size());
    for (auto& v : namedValues) raw.push_back(*v.get());
    for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(*it->get());

    DISPPARAMS params{};
    params.rgvarg = raw.empty() ? nullptr : raw.data();
    params.cArgs = static_cast<UINT>(raw.size());
    params.rgdispidNamedArgs = namedIds.empty() ? nullptr : namedIds.data();
    params.cNamedArgs = static_cast<UINT>(namedIds.size());

    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    HRESULT hr = WithBusyRetry([&] {
        VariantClear(&result);
        info = EXCEPINFO{};
        return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                               (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? nullptr : &result, &info,
                               nullptr);
    });
    if (hr == DISP_E_EXCEPTION) {
        Failure failure = FailureFromException(info, hr);
        if (IsBusy(failure.number())) throw Failure::FromHresult(failure.number());
        throw failure;
    }
    ThrowIfFailed(hr);
    return Variant::Adopt(result);
}

Variant Dispatch::get(const std::wstring& name, std::vector<Variant> args) const {
    DISPID id = idOf(name);
    if (args.empty()) return invoke(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    try {
        return invoke(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
    } catch (const Failure& f) {
        // Collection(i) on a property that takes no arguments: read the
        // property, then apply the arguments to its default member, as the
        // classic runtime does for Documents(i).
        if (f.number() != DISP_E_BADPARAMCOUNT) throw;
    }
    Dispatch value = invoke(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD).toDispatch();
    return value.invoke(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args));
}

void Dispatch::put(const std::wstring& name, Variant value) const {
    invoke(idOf(name), DISPATCH_PROPERTYPUT, {}, {DISPID_PROPERTYPUT}, {std::move(value)});
}

Variant Dispatch::call(const std::wstring& name, std::vector<Variant> args, std::vector<NamedArg> named) const {
    std::vector<std::wstring> names{name};
    for (auto& n : named) names.push_back(n.name);
    std::vector<DISPID> ids = idsOf(names);
    std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
    std::vector<Variant> namedValues;
    for (auto& n : named) namedValues.push_back(std::move(n.value));
    return invoke(ids[0], DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), std::move(namedIds),
                  std::move(namedValues));
}

Variant Dispatch::getDefault() const { return invoke(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD); }
