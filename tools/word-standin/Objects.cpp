#include "Objects.h"

#include "Clipboard.h"
#include "common/ComObject.h"
#include "Content.h"
#include "Control.h"
#include "Docx.h"
#include "Errors.h"

#include <new>
#include <string_view>

namespace {

Application* g_application = nullptr;

bool SameName(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

long long Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return (to.QuadPart - from.QuadPart) * 1000000 / frequency;
}

void SetText(VARIANT& v, const std::wstring& text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
void SetLong(VARIANT& v, long n) {
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
}
void SetBool(VARIANT& v, bool b) {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetObject(VARIANT& v, IDispatch* object) {
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;
    object->AddRef();
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
    case VT_UNKNOWN: text = L"Object"; break;
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

std::wstring Hex(HRESULT hr) {
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

}  // namespace

// The arguments of one call, by position: positional ones in the caller's
// order, named ones at the position their DISPID names.
class Args {
    template <class F>
    static auto Converted(const VARIANT& from, VARTYPE to, size_t i, F take) {
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantChangeTypeEx(&v, const_cast<VARIANT*>(&from), LOCALE_USER_DEFAULT, 0, to)))
            throw DispatchError{DISP_E_TYPEMISMATCH, static_cast<UINT>(i)};
        auto result = take(v);
        VariantClear(&v);
        return result;
    }

public:
    Args(const Member* member, DISPPARAMS* params, bool put) : params_(params), put_(put) {
        UINT named = params ? params->cNamedArgs : 0;
        UINT total = params ? params->cArgs : 0;
        if (put) {
            // The value is the named DISPID_PROPERTYPUT argument.
            if (total < 1) throw DispatchError{DISP_E_BADPARAMCOUNT};
            value_ = &params->rgvarg[0];
            return;
        }
        size_t positional = total - named;
        size_t capacity = member ? member->params.size() : 0;
        if (positional > capacity) throw DispatchError{DISP_E_BADPARAMCOUNT};
        slots_.assign(capacity, nullptr);
        for (size_t i = 0; i < positional; ++i) slots_[i] = &params->rgvarg[total - 1 - i];
        for (UINT k = 0; k < named; ++k) {
            DISPID id = params->rgdispidNamedArgs[k];
            if (id < 0 || static_cast<size_t>(id) >= capacity) throw DispatchError{DISP_E_PARAMNOTFOUND, k};
            slots_[id] = &params->rgvarg[k];
        }
    }

    // Null when the argument was not given (or given as "missing").
    const VARIANT* at(size_t i) const {
        if (i >= slots_.size() || !slots_[i]) return nullptr;
        const VARIANT* v = slots_[i];
        if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) return nullptr;
        return v;
    }
    bool given(size_t i) const { return at(i) != nullptr; }
    const VARIANT& value() const { return *value_; }
    bool put() const { return put_; }

    std::wstring text(size_t i) const { return Converted(required(i), VT_BSTR, i, [](VARIANT& v) {
        return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    }); }
    bool boolean(size_t i) const {
        return Converted(required(i), VT_BOOL, i, [](VARIANT& v) { return V_BOOL(&v) != VARIANT_FALSE; });
    }
    std::wstring valueText() const {
        return Converted(*value_, VT_BSTR, 0, [](VARIANT& v) { return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))); });
    }
    long valueLong() const { return Converted(*value_, VT_I4, 0, [](VARIANT& v) { return V_I4(&v); }); }
    bool valueBool() const { return Converted(*value_, VT_BOOL, 0, [](VARIANT& v) { return V_BOOL(&v) != VARIANT_FALSE; }); }

private:
    const VARIANT& required(size_t i) const {
        if (!at(i)) throw DispatchError{DISP_E_PARAMNOTFOUND, static_cast<UINT>(i)};
        return *at(i);
    }

    DISPPARAMS* params_;
    bool put_;
    const VARIANT* value_ = nullptr;
    std::vector<const VARIANT*> slots_;
};

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
        bool busy = false;
        for (const FiredFault& fault : FaultsFor(FaultStage::Invoke, name, document)) {
            switch (fault.action) {
            case FaultAction::Slow: Sleep(fault.milliseconds); break;
            case FaultAction::Busy: busy = true; break;
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
        } else {
            call(*member, put, args, value);
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

// ---- Application -------------------------------------------------------------

namespace {
const Member kApplicationMembers[] = {
    {L"Name", DISPID_VALUE, MemberKind::Get, {}},
    {L"Documents", 6, MemberKind::Get, {L"Index"}},
    {L"Version", 24, MemberKind::Get, {}},
    {L"Visible", 23, MemberKind::GetPut, {}},
    {L"DisplayAlerts", 94, MemberKind::GetPut, {}},
    {L"Quit", 1105, MemberKind::Method, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}},
};
}

Application::Application(HWND window, bool visible)
    : window_(window), visible_(visible) {
    documents_.Attach(new Documents);
}

std::span<const Member> Application::members() const { return kApplicationMembers; }

std::wstring Application::documentOf(DISPID id, const Args& args) const {
    if (id == 6 && args.at(0))
        if (Document* d = documents_->tryItem(*args.at(0))) return d->name();
    return {};
}

void Application::call(const Member& member, bool put, Args& args, VARIANT& result) {
    switch (member.id) {
    case DISPID_VALUE: SetText(result, AppNameSetting()); break;
    case 6:
        // Documents(i): the classic runtime passes the index straight to
        // the property; Word hands it on to the collection's Item.
        if (args.at(0)) SetObject(result, documents_->item(*args.at(0)));
        else SetObject(result, documents_.Get());
        break;
    case 24: SetText(result, VersionSetting()); break;
    case 23:
        if (put) visible_ = args.valueBool();
        else SetBool(result, visible_);
        break;
    case 94:
        // Word's WdAlertLevel: True is wdAlertsAll (-1), False wdAlertsNone.
        if (put) displayAlerts_ = args.valueLong();
        else SetLong(result, displayAlerts_);
        break;
    case 1105:
        // Documents are not saved and nothing is asked; the process ends
        // once this answer is on its way.
        SetTimer(window_, kQuitTimer, 100, nullptr);
        break;
    }
}

Application& TheApplication() { return *g_application; }
void CreateTheApplication(HWND window, bool visible) { g_application = new Application(window, visible); }

// ---- Documents ---------------------------------------------------------------

namespace {
const Member kDocumentsMembers[] = {
    {L"Item", DISPID_VALUE, MemberKind::Method, {L"Index"}},
    {L"Count", 2, MemberKind::Get, {}},
    {L"Add", 14, MemberKind::Method, {L"Template", L"NewTemplate", L"DocumentType", L"Visible"}},
};
}

std::span<const Member> Documents::members() const { return kDocumentsMembers; }

std::wstring Documents::documentOf(DISPID id, const Args& args) const {
    if (id == DISPID_VALUE && args.at(0))
        if (Document* d = tryItem(*args.at(0))) return d->name();
    return {};
}

Document* Documents::tryItem(const VARIANT& index) const {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(&index)))) return nullptr;
    Document* found = nullptr;
    if (V_VT(&v) == VT_BSTR) {
        std::wstring name(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
        for (const auto& d : list_)
            if (SameName(d->name(), name)) found = d.Get();
    } else if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
        long i = V_I4(&v);
        if (i >= 1 && static_cast<size_t>(i) <= list_.size()) found = list_[i - 1].Get();
    }
    VariantClear(&v);
    return found;
}

Document* Documents::item(const VARIANT& index) const {
    if (Document* d = tryItem(index)) return d;
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantCopyInd(&v, const_cast<VARIANT*>(&index));
    bool usable = SUCCEEDED(hr) && (V_VT(&v) == VT_BSTR || SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)));
    VariantClear(&v);
    if (!usable) throw DispatchError{DISP_E_TYPEMISMATCH, 0};
    throw WordError(kErrorMemberNotInCollection, L"The requested member of the collection does not exist.");
}

void Documents::remove(Document* document) {
    for (auto it = list_.begin(); it != list_.end(); ++it)
        if (it->Get() == document) {
            list_.erase(it);
            return;
        }
}

ComPtr<Document> Documents::add() {
    // Word numbers new documents Document1, Document2, ... per process.
    std::wstring name;
    bool taken;
    do {
        name = L"Document" + std::to_wstring(++added_);
        taken = false;
        for (const auto& d : list_) taken = taken || SameName(d->name(), name);
    } while (taken);
    ComPtr<Document> document;
    document.Attach(new Document(name, L"", L""));
    list_.push_back(document);
    return document;
}

void Documents::call(const Member& member, bool, Args& args, VARIANT& result) {
    switch (member.id) {
    case DISPID_VALUE:
        if (!args.at(0)) throw DispatchError{DISP_E_PARAMNOTFOUND, 0};
        SetObject(result, item(*args.at(0)));
        break;
    case 2: SetLong(result, static_cast<long>(list_.size())); break;
    case 14: SetObject(result, add().Get()); break;
    }
}

// ---- Document ----------------------------------------------------------------

namespace {
const Member kDocumentMembers[] = {
    {L"Name", DISPID_VALUE, MemberKind::Get, {}},
    {L"Path", 1, MemberKind::Get, {}},
    {L"Range", 2000, MemberKind::Method, {L"Start", L"End"}},
    {L"SaveAs", 102, MemberKind::Method,
     {L"FileName", L"FileFormat", L"LockComments", L"Password", L"AddToRecentFiles", L"WritePassword",
      L"ReadOnlyRecommended", L"EmbedTrueTypeFonts", L"SaveNativePictureFormat", L"SaveFormsData",
      L"SaveAsAOCELetter"}},
    {L"Close", 1105, MemberKind::Method, {L"SaveChanges", L"OriginalFormat", L"RouteDocument"}},
};

// Word's Path: the folder without a trailing backslash, except a drive root.
std::wstring FolderOf(const std::wstring& file) {
    size_t slash = file.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    std::wstring folder = file.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}
std::wstring NameOf(const std::wstring& file) { return file.substr(file.find_last_of(L'\\') + 1); }
}  // namespace

Document::Document(std::wstring name, std::wstring file, std::wstring content)
    : name_(std::move(name)), file_(std::move(file)), content_(std::move(content)), savedContent_(content_) {}

std::span<const Member> Document::members() const { return kDocumentMembers; }

void Document::checkOpen() const {
    if (closed_) throw WordError(kErrorObjectDeleted, L"Object has been deleted.");
}

void Document::saveAs(const std::wstring& fileName) {
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(fileName.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (fileName.empty() || n == 0 || n >= std::size(full))
        throw WordError(kErrorInvalidFileName, L"This is not a valid file name. (" + fileName + L")");
    std::wstring file = full;
    // Like Word, a name without an extension gets the format's own.
    if (NameOf(file).find(L'.') == std::wstring::npos) file += L".docx";
    std::wstring folder = FolderOf(file);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw WordError(kErrorInvalidFileName,
                        L"This is not a valid file name: the folder " + folder + L" does not exist. (" + file + L")");
    WriteDocx(file, content_);
    savedContent_ = content_;
    file_ = file;
    name_ = NameOf(file);
}

void Document::close(bool saveChanges) {
    // A never-saved document has no file to save to; Word would ask for a
    // name, which an unattended instance must not do: it just closes.
    if (saveChanges && !file_.empty() && content_ != savedContent_) WriteDocx(file_, content_);
    closed_ = true;
    TheApplication().documents().remove(this);
}

void Document::call(const Member& member, bool, Args& args, VARIANT& result) {
    checkOpen();
    switch (member.id) {
    case DISPID_VALUE: SetText(result, name_); break;
    case 1: SetText(result, FolderOf(file_)); break;
    case 2000: {
        if (args.given(0) || args.given(1))
            throw WordError(4198, L"The stand-in only has whole-document ranges: call Range without arguments.");
        ComPtr<Range> range;
        range.Attach(new Range(this));
        SetObject(result, range.Get());
        break;
    }
    case 102: saveAs(args.text(0)); break;
    case 1105: {
        // wdSaveChanges is True (-1); False and wdPromptToSaveChanges (-2),
        // which an unattended instance cannot ask, discard.
        bool save = false;
        if (args.given(0)) {
            VARIANT v;
            VariantInit(&v);
            if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(args.at(0)), 0, VT_I4)))
                throw DispatchError{DISP_E_TYPEMISMATCH, 0};
            save = V_I4(&v) == -1;
        }
        close(save);
        break;
    }
    }
}

// ---- Range -------------------------------------------------------------------

namespace {
const Member kRangeMembers[] = {
    {L"Text", DISPID_VALUE, MemberKind::GetPut, {}},
    {L"Copy", 1, MemberKind::Method, {}},
    {L"Paste", 2, MemberKind::Method, {}},
};
}

std::span<const Member> Range::members() const { return kRangeMembers; }

void Range::call(const Member& member, bool put, Args& args, VARIANT& result) {
    document_->checkOpen();
    switch (member.id) {
    case DISPID_VALUE:
        if (put) document_->content() = ContentFromText(args.valueText());
        else SetText(result, RangeText(document_->content()));
        break;
    case 1: PutOnClipboard(TheApplication().window(), document_->content()); break;
    case 2: document_->content() = TakeFromClipboard(TheApplication().window()); break;
    }
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

}  // namespace

IMessageFilter* NewServerMessageFilter() { return new ServerMessageFilter; }
IClassFactory* NewClassFactory() { return new ClassFactory; }
