// IDispatch for every object of the stand-in: name look-up, argument
// checks, injected faults and the call log; the server's message filter and
// class factory.
#include "Args.h"
#include "Control.h"
#include "Objects.h"
#include "common/ComObject.h"

#include <algorithm>
#include <new>
#include <string_view>

namespace {

long long Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return (to.QuadPart - from.QuadPart) * 1000000 / frequency;
}

// A Word that is still at work after the member has done its part: the
// answer waits, while messages that other programs send (a clipboard owner
// is sent WM_DESTROYCLIPBOARD) are still answered.
void LingerAnswering(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now; (now = GetTickCount64()) < end;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Text of a value for the call log, in the classic runtime's type names.
std::wstring Describe(const VARIANT& v) {
    std::wstring prefix;
    VARIANT value;
    VariantInit(&value);
    if (V_VT(&v) & VT_BYREF) {
        prefix = L"ByRef ";
        if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&v)))) return L"ByRef ?";
    } else if (FAILED(VariantCopy(&value, const_cast<VARIANT*>(&v)))) {
        return L"?";
    }
    std::wstring text;
    switch (V_VT(&value)) {
    case VT_EMPTY: text = L"Empty"; break;
    case VT_NULL: text = L"Null"; break;
    case VT_ERROR: text = V_ERROR(&value) == DISP_E_PARAMNOTFOUND ? L"Missing" : L"Error"; break;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        // A document passed back to its Word: which one.
        const std::wstring document = V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value)
                                          ? TheApplication().documents().fullNameOf(V_DISPATCH(&value))
                                          : L"";
        text = document.empty() ? L"Object" : L"Object \"" + LogEscape(document) + L"\"";
        break;
    }
    case VT_BOOL: text = V_BOOL(&value) ? L"Boolean True" : L"Boolean False"; break;
    case VT_BSTR: {
        std::wstring s(V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value)));
        if (s.size() > 200) s = s.substr(0, 200) + L"...";
        text = L"String \"" + LogEscape(s) + L"\"";
        break;
    }
    default: {
        static const struct {
            VARTYPE type;
            const wchar_t* name;
        } kNames[] = {{VT_I2, L"Integer"}, {VT_I4, L"Long"},    {VT_R4, L"Single"}, {VT_R8, L"Double"},
                      {VT_UI1, L"Byte"},   {VT_CY, L"Currency"}, {VT_DATE, L"Date"}, {VT_I8, L"LongLong"}};
        const wchar_t* name = L"Variant";
        for (const auto& n : kNames)
            if (n.type == V_VT(&value)) name = n.name;
        VARIANT s;
        VariantInit(&s);
        if (SUCCEEDED(VariantChangeTypeEx(&s, &value, LOCALE_INVARIANT, 0, VT_BSTR)))
            text = std::wstring(name) + L" " + V_BSTR(&s);
        else
            text = name;
        VariantClear(&s);
    }
    }
    VariantClear(&value);
    return prefix + text;
}

// The user opens a file from Explorer, and Word puts it into this instance
// whatever else the instance is doing; logged as "User.Open".
void OpenForUser(const std::wstring& file) {
    std::wstring outcome = L"ok";
    try {
        TheApplication().documents().open(OpenDocumentFile(file));
    } catch (const WordError& e) {
        outcome = L"error " + std::to_wstring(e.number) + L" " + LogEscape(e.description);
    }
    LogCall(L"User.Open", L"String \"" + LogEscape(file) + L"\"", 0, outcome);
}

// The user closes a document of this instance without saving it, between
// two calls of a client's; logged as "User.Close".
void CloseForUser(const std::wstring& name) {
    VARIANT index;
    index.vt = VT_BSTR;
    index.bstrVal = SysAllocString(name.c_str());
    Document* document = TheApplication().documents().tryItem(index);
    VariantClear(&index);
    if (document) CloseAsUser(*ComPtr<Document>(document).Get(), UserAnswer::DontSave);
    LogCall(L"User.Close", L"String \"" + LogEscape(name) + L"\"", 0, document ? L"ok" : L"error 5941");
}

std::wstring Hex(HRESULT hr) {
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

}  // namespace

// ---- DispatchObject ----------------------------------------------------------

HRESULT DispatchObject::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;  // late binding only, as the program uses it
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

const Member* DispatchObject::find(DISPID id) const {
    for (const Member& m : members())
        if (m.id == id) return &m;
    return nullptr;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const Member* member = nullptr;
    for (const Member& m : members())
        if (SameName(names[0], m.name)) member = &m;
    if (!member) return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (size_t p = 0; p < member->params.size(); ++p)
            if (SameName(names[i], member->params[p])) ids[i] = static_cast<DISPID>(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    ComPtr<IDispatch> keepAlive(this);  // Close and Quit must not pull the object away mid-call

    const Member* member = find(id);
    std::wstring name = std::wstring(kind()) + L"." + (member ? member->name : L"#" + std::to_wstring(id));
    bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;

    std::wstring argsText;
    if (params) {
        for (UINT i = params->cArgs; i-- > params->cNamedArgs;) {
            if (!argsText.empty()) argsText += L", ";
            argsText += Describe(params->rgvarg[i]);
        }
        for (UINT k = 0; k < params->cNamedArgs && k < params->cArgs; ++k) {
            if (!argsText.empty()) argsText += L", ";
            DISPID named = params->rgdispidNamedArgs[k];
            if (named == DISPID_PROPERTYPUT) argsText += L"= ";
            else if (member && named >= 0 && static_cast<size_t>(named) < member->params.size())
                argsText += std::wstring(member->params[named]) + L":=";
            else argsText += L"#" + std::to_wstring(named) + L":=";
            argsText += Describe(params->rgvarg[k]);
        }
    }

    HRESULT hr = S_OK;
    std::wstring outcome = L"ok";
    VARIANT value;
    VariantInit(&value);
    try {
        if (!member) throw DispatchError{DISP_E_MEMBERNOTFOUND};
        if (put && member->kind != MemberKind::GetPut) throw DispatchError{DISP_E_MEMBERNOTFOUND};
        if (!put && !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) throw DispatchError{DISP_E_MEMBERNOTFOUND};
        Args args(member, params, put);

        std::wstring document;
        try {
            document = documentOf(id, args);
        } catch (...) {
        }
        bool busy = false, hung = false;
        DWORD linger = 0;
        for (const FiredFault& fault : FaultsFor(FaultStage::Invoke, name, document)) {
            switch (fault.action) {
            case FaultAction::Slow:
                Sleep(fault.milliseconds +
                      static_cast<DWORD>(fault.perMegabyte * (fault.perMegabyte ? workBytes(id) : 0) / (1 << 20)));
                break;
            case FaultAction::Linger: linger += fault.milliseconds; break;
            case FaultAction::Busy: busy = true; break;
            case FaultAction::Hang:
                // A hung Word: the call is taken and not answered, and its
                // message loop is dead meanwhile.
                Sleep(fault.milliseconds ? fault.milliseconds : INFINITE);
                hung = true;
                break;
            case FaultAction::Open: OpenForUser(fault.file); break;
            case FaultAction::Close: CloseForUser(fault.file); break;
            case FaultAction::Die: {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                LogCall(name, argsText, Microseconds(start, now), L"died");
                ExitProcess(fault.exitCode);
            }
            case FaultAction::Fail:
                throw WordError(fault.number ? fault.number : 4198,
                                fault.description.empty() ? L"Command failed" : fault.description);
            default: break;
            }
        }
        if (busy) {
            hr = RPC_E_SERVERCALL_RETRYLATER;
            outcome = L"busy";
        } else if (hung) {
            hr = E_ABORT;
            outcome = L"hung";
        } else {
            call(*member, put, args, value);
            LingerAnswering(linger);
        }
    } catch (const WordError& e) {
        hr = DISP_E_EXCEPTION;
        outcome = L"error " + std::to_wstring(e.number) + L" " + LogEscape(e.description);
        if (exception) {
            *exception = EXCEPINFO{};
            exception->scode = WordScode(e.number);
            exception->bstrSource = SysAllocString(L"Microsoft Word");
            exception->bstrDescription = SysAllocString(e.description.c_str());
        }
    } catch (const DispatchError& e) {
        hr = e.hr;
        outcome = L"error " + Hex(e.hr);
        if (argError && (e.hr == DISP_E_TYPEMISMATCH || e.hr == DISP_E_PARAMNOTFOUND)) *argError = e.argument;
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        outcome = L"error out of memory";
    } catch (...) {
        hr = E_UNEXPECTED;
        outcome = L"error unexpected";
    }
    if (hr == S_OK && result) *result = value;
    else VariantClear(&value);

    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    LogCall(name, argsText, Microseconds(start, end), outcome);
    return hr;
}

// ---- Message filter and class factory ----------------------------------------

namespace {

class ServerMessageFilter final : public ComObject<IMessageFilter, IID_IMessageFilter> {
public:

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
        // Only calls on our own objects: the runtime's own interfaces pass.
        if (!info || info->iid != IID_IDispatch || !info->pUnk) return SERVERCALL_ISHANDLED;
        try {
            auto* object = static_cast<DispatchObject*>(static_cast<IDispatch*>(info->pUnk));
            static const wchar_t* const kMethods[] = {L"QueryInterface", L"AddRef",        L"Release", L"GetTypeInfoCount",
                                                      L"GetTypeInfo",    L"GetIDsOfNames", L"Invoke"};
            std::wstring name = std::wstring(object->kind()) + L"." +
                                (info->wMethod < std::size(kMethods) ? kMethods[info->wMethod] : L"?");
            std::wstring document;
            if (std::wstring_view(object->kind()) == L"Document" || std::wstring_view(object->kind()) == L"Range")
                document = object->documentOf(DISPID_VALUE, Args(nullptr, nullptr, false));
            for (const FiredFault& fault : FaultsFor(FaultStage::Filter, name, document)) {
                bool reject = fault.action == FaultAction::Reject;
                LogCall(name, L"", 0, reject ? L"rejected" : L"retrylater");
                return reject ? SERVERCALL_REJECTED : SERVERCALL_RETRYLATER;
            }
        } catch (...) {
        }
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

class ClassFactory final : public ComObject<IClassFactory, IID_IClassFactory> {
public:
    // Every creation reaches a process of its own (single-use class
    // object), and the process has one application object.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        const wchar_t* name = L"ClassFactory.CreateInstance";
        HRESULT hr = S_OK;
        std::wstring outcome = L"ok";
        try {
            for (const FiredFault& fault : FaultsFor(FaultStage::Invoke, name, L"")) {
                if (fault.action == FaultAction::Slow) Sleep(fault.milliseconds);
                if (fault.action == FaultAction::Open) OpenForUser(fault.file);
                if (fault.action == FaultAction::Die) {
                    LogCall(name, L"", 0, L"died");
                    ExitProcess(fault.exitCode);
                }
                if (fault.action == FaultAction::Fail || fault.action == FaultAction::Busy) {
                    hr = fault.action == FaultAction::Busy ? RPC_E_SERVERCALL_RETRYLATER : CO_E_SERVER_EXEC_FAILURE;
                    outcome = fault.action == FaultAction::Busy ? L"busy" : L"error " + Hex(hr);
                }
            }
        } catch (...) {
        }
        if (hr == S_OK) hr = TheApplication().QueryInterface(riid, out);
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        LogCall(name, L"", Microseconds(start, end), outcome);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

class DocumentEnumerator final : public ComObject<IEnumVARIANT, IID_IEnumVARIANT> {
public:
    DocumentEnumerator(std::vector<ComPtr<Document>> documents, size_t next = 0)
        : documents_(std::move(documents)), next_(next) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        ULONG n = 0;
        for (; n < count && next_ < documents_.size(); ++n, ++next_) {
            VariantInit(&out[n]);
            SetObject(out[n], documents_[next_].Get());
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        next_ = std::min(documents_.size(), next_ + count);
        return next_ < documents_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new DocumentEnumerator(documents_, next_);
        return S_OK;
    }

private:
    std::vector<ComPtr<Document>> documents_;
    size_t next_;
};

}  // namespace

IUnknown* NewDocumentEnumerator(const std::vector<ComPtr<Document>>& documents) {
    return new DocumentEnumerator(documents);
}

IMessageFilter* NewServerMessageFilter() { return new ServerMessageFilter; }
IClassFactory* NewClassFactory() { return new ClassFactory; }
