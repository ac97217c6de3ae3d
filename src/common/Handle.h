#pragma once
// One move-only owner for Win32 handles and system-allocated memory:
// Unique<HKEY, &RegCloseKey>.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shtypes.h>

#include <utility>

template <class T>
struct NullIsInvalid {
    static T invalid() { return T{}; }
};
// CreateFile and FindFirstFile answer INVALID_HANDLE_VALUE, not null.
struct MinusOneIsInvalid {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
};

template <class T, auto Close, class Sentinel = NullIsInvalid<T>>
class Unique {
    static T Invalid() { return Sentinel::invalid(); }

public:
    Unique() = default;
    explicit Unique(T h) : h_(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, Invalid())) {}
    Unique& operator=(Unique&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Invalid()));
        return *this;
    }
    ~Unique() { reset(); }

    T get() const { return h_; }
    T* put() { reset(); return &h_; }
    T release() { return std::exchange(h_, Invalid()); }
    void reset(T h = Invalid()) {
        if (h_ != Invalid()) Close(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != Invalid(); }

private:
    T h_ = Invalid();
};

using UniqueKey = Unique<HKEY, &RegCloseKey>;
using UniqueHandle = Unique<HANDLE, &CloseHandle>;
using UniqueIcon = Unique<HICON, &DestroyIcon>;
using UniqueCursor = Unique<HCURSOR, &DestroyCursor>;
using UniqueFont = Unique<HFONT, &DeleteObject>;
using UniqueBrush = Unique<HBRUSH, &DeleteObject>;
using UniqueGlobal = Unique<HGLOBAL, &GlobalFree>;
inline BOOL CloseFind(HANDLE h) { return FindClose(h); }
using UniqueFile = Unique<HANDLE, &CloseHandle, MinusOneIsInvalid>;
using UniqueFind = Unique<HANDLE, &CloseFind, MinusOneIsInvalid>;
// Memory the system allocated for us: FormatMessage's text and the SID text
// (LocalFree), shell item lists (CoTaskMemFree), strings (SysFreeString).
template <class T>
using UniqueLocal = Unique<T*, &LocalFree>;
using UniquePidl = Unique<PIDLIST_ABSOLUTE, &CoTaskMemFree>;
using Bstr = Unique<BSTR, &SysFreeString>;
