#include "support/WindowLookup.h"

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Millis limit) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, static_cast<UINT>(limit.count()), &result))
        return 0;
    return static_cast<LRESULT>(result);
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(SendWithTimeout(window, WM_GETTEXTLENGTH)) + 1, L'\0');
    LRESULT got = SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* cls, const wchar_t* caption) {
    struct Query {
        DWORD pid;
        const wchar_t* cls;
        const wchar_t* caption;
        std::vector<HWND> found;
    } q{pid, cls, caption, {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (q.pid && ProcessOf(w) != q.pid) return TRUE;
            if (q.cls && ClassOf(w) != q.cls) return TRUE;
            if (q.caption && TextOf(w) != q.caption) return TRUE;
            q.found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

HWND FindTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption) {
    auto all = TopLevelWindows(pid, cls, caption);
    return all.empty() ? nullptr : all.front();
}

HWND WaitTopLevel(DWORD pid, const wchar_t* cls, const wchar_t* caption, Millis limit) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopLevel(pid, cls, caption)) != nullptr; }, limit);
    return found;
}

HWND FindDescendant(HWND parent, int id) {
    struct Query {
        int id;
        HWND found;
    } q{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (GetDlgCtrlID(w) != q.id) return TRUE;
            q.found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

std::vector<HWND> DescendantsOfClass(HWND parent, const wchar_t* cls) {
    struct Query {
        const wchar_t* cls;
        std::vector<HWND> found;
    } q{cls, {}};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto& q = *reinterpret_cast<Query*>(p);
            if (!q.cls || ClassOf(w) == q.cls) q.found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND w : DescendantsOfClass(dialog, L"Static"))
        if (IsWindowVisible(w)) texts.push_back(TextOf(w));
    return texts;
}
