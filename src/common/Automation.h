#pragma once
// Late-bound automation: calls by name through IDispatch, the way the
// program talks to Word and to the scripting runtime.
#include "common/Failure.h"

#include <oaidl.h>
#include <ole2.h>
#include <wrl/client.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class Dispatch;

// A VARIANT that is initialised on construction and cleared on destruction.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const wchar_t* text);
    Variant(const std::wstring& text);
    Variant(bool value);
    Variant(short value);
    Variant(int value);
    Variant(long value) : Variant(static_cast<int>(value)) {}
    Variant(double value);
    Variant(const Dispatch& object);
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant other) noexcept;
    ~Variant() { VariantClear(&v_); }

    // Takes ownership of a VARIANT filled by a call.
    static Variant Adopt(VARIANT& raw);
    // A VT_BYREF|VT_I2 that refers to a 16-bit variable of the caller, as the
    // classic runtime passes an integer variable to an automation call.
    static Variant ByRef(short* target);

    VARTYPE type() const { return V_VT(&v_); }
    bool isEmpty() const { return type() == VT_EMPTY || type() == VT_NULL; }
    bool isObject() const;

    // Conversions raise a type-mismatch failure when they cannot be made.
    std::wstring toText() const;
    bool toBool() const;
    long toLong() const;
    double toDouble() const;
    Dispatch toDispatch() const;
    Microsoft::WRL::ComPtr<IUnknown> toUnknown() const;  // an object of any kind, e.g. an enumerator

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }

private:
    VARIANT v_;
};

struct NamedArg {
    std::wstring name;
    Variant value;
};

// Dispatch identifiers already asked for, by member name (with the names of
// named arguments).  A server gives every object of one kind the same ids
// (every document of one Word), so one cache can serve them all: each name
// then costs one round trip per run instead of one per call.
class MemberIds {
public:
    const std::vector<DISPID>* find(const std::wstring& key) const;
    void add(const std::wstring& key, std::vector<DISPID> ids) { ids_[key] = std::move(ids); }

private:
    std::map<std::wstring, std::vector<DISPID>> ids_;
};

// A counted reference to an automation object, released on scope exit.
// Copies share the reference and the object's id cache.
class Dispatch {
public:
    Dispatch() = default;
    explicit Dispatch(Microsoft::WRL::ComPtr<IDispatch> object) : object_(std::move(object)) {}

    // Takes its ids from (and adds them to) a cache shared with objects of
    // the same kind.
    Dispatch& shareIds(std::shared_ptr<MemberIds> ids) {
        ids_ = std::move(ids);
        return *this;
    }

    // A new instance of the class (the runtime's create-object).
    static Dispatch Create(const std::wstring& progId);
    // The running instance registered in the running-object table.
    static Dispatch GetActive(const std::wstring& progId);

    Variant get(const std::wstring& name, std::vector<Variant> args = {}) const;
    void put(const std::wstring& name, Variant value) const;
    Variant call(const std::wstring& name, std::vector<Variant> args = {}, std::vector<NamedArg> named = {}) const;
    // The default member (dispatch identifier 0), read without arguments.
    Variant getDefault() const;
    Variant invoke(DISPID id, WORD flags, std::vector<Variant> args = {}, std::vector<DISPID> namedIds = {},
                   std::vector<Variant> namedValues = {}) const;
    DISPID idOf(const std::wstring& name) const;
    // The ids of a member and its named arguments, asked for together.
    std::vector<DISPID> idsOf(const std::vector<std::wstring>& names) const;

    bool empty() const { return !object_; }
    explicit operator bool() const { return !empty(); }
    void reset() { object_.Reset(); }
    IDispatch* raw() const { return object_.Get(); }

private:
    Microsoft::WRL::ComPtr<IDispatch> object_;
    mutable std::shared_ptr<MemberIds> ids_;
};

// How long a server's busy refusals are retried before the call fails.
// Microsoft's guidance for Office automation is about 30 seconds.  Within a
// CallScope the bound holds for all the scope's calls together: a server that
// refuses every call waits it out once, and later refusals fail at once.
std::chrono::milliseconds BusyRetryBound();
void SetBusyRetryBound(std::chrono::milliseconds bound);  // tests shorten it

// Bounds every outgoing call the calling thread makes for the scope's life
// (the earlier of nested bounds holds): a call still waiting at the deadline
// is cancelled (RPC_E_CALL_CANCELED), a busy one no longer retried.  Needs
// the thread's MessageFilterRegistration.
class CallDeadline {
public:
    explicit CallDeadline(std::chrono::milliseconds bound);
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;
    bool passed() const;

private:
    unsigned long long previous_;
    UINT_PTR timer_ = 0;
};

// How long an outgoing call may go unanswered before the message filter
// cancels it (the call then fails: IsCallTimedOut).  Any call gets `call`;
// one that hands over or writes a whole document (a package, a save, a
// comparison, opening a file, starting a server) gets `document`.
struct AnswerBounds {
    std::chrono::milliseconds call{10'000};
    std::chrono::milliseconds document{120'000};
};
AnswerBounds CallAnswerBounds();
void SetCallAnswerBounds(AnswerBounds bounds);  // tests shorten them

// Bounds for this thread's outgoing calls while it lives; scopes nest, the
// innermost bound counts.  The outermost one keeps the busy budget and wakes
// the thread's COM wait now and then, so that the filter can cancel a call
// even when no window message comes (only a thread with a
// MessageFilterRegistration cancels).  Every Dispatch call opens one; an
// operation that talks to another program opens one around all of it, so
// that the references it releases at its end are bounded too.
class CallScope {
public:
    CallScope();
    // answer: the calls' bound; busyRetry: refusals are retried at most this
    // long per call (never past the outermost scope's budget).
    explicit CallScope(std::chrono::milliseconds answer,
                       std::chrono::milliseconds busyRetry = std::chrono::milliseconds::max());
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    std::chrono::milliseconds answer_, busyRetry_;
};

// OLE on the calling thread for the scope's life.  Declared first in a
// thread's entry, so that every COM object of the thread is gone before OLE
// is torn down, on every path out.
class OleScope {
public:
    OleScope() : result_(OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(result_)) OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;

private:
    HRESULT result_;
};

// Registers an OLE message filter on the calling (GUI) thread: calls that a
// busy server rejects are retried up to BusyRetryBound, window messages keep
// flowing while an outgoing call waits, and a call unanswered past its
// CallScope's bound is cancelled.  Revoked on destruction.
class MessageFilterRegistration {
public:
    MessageFilterRegistration();
    ~MessageFilterRegistration();
    MessageFilterRegistration(const MessageFilterRegistration&) = delete;
    MessageFilterRegistration& operator=(const MessageFilterRegistration&) = delete;

private:
    IMessageFilter* previous_ = nullptr;
    bool registered_ = false;
};
