#pragma once
// The arguments of one call, the setters of its result, and name matching.
#include "Errors.h"
#include "Objects.h"

#include <oleauto.h>

#include <string>
#include <string_view>
#include <vector>

// Member, argument and document names, without regard to case as in Word.
inline bool SameName(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

inline void SetText(VARIANT& v, const std::wstring& text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
inline void SetLong(VARIANT& v, long n) {
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
}
inline void SetBool(VARIANT& v, bool b) {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
}
inline void SetObject(VARIANT& v, IDispatch* object) {
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;
    object->AddRef();
}

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
