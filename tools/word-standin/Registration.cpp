#include "Registration.h"

#include "Protocol.h"

#include <windows.h>

#include <string>

namespace {

const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kClsidKey = kClasses + L"CLSID\\" + standin::kClsidText;
const std::wstring kProgIdKey = kClasses + standin::kProgId;
// As Word registers itself: the versioned ProgID beside the independent one,
// which names it as CurVer.
const std::wstring kVersionedProgId = std::wstring(standin::kProgId) + L".16";
const std::wstring kVersionedKey = kClasses + kVersionedProgId;

bool SetText(HKEY root, const std::wstring& key, const std::wstring& value) {
    return RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring ReadText(HKEY root, const std::wstring& key) {
    wchar_t buffer[256];
    DWORD bytes = sizeof buffer;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) return {};
    return buffer;
}

bool DeleteTree(HKEY root, const std::wstring& key) {
    LSTATUS status = RegDeleteTreeW(root, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    RegDeleteKeyW(root, key.c_str());
    return true;
}

bool PointsToUs(HKEY root, const std::wstring& progIdKey = kProgIdKey) {
    std::wstring clsid = ReadText(root, progIdKey + L"\\CLSID");
    return clsid.empty() || CompareStringOrdinal(clsid.c_str(), -1, standin::kClsidText, -1, TRUE) == CSTR_EQUAL;
}

bool Write(HKEY root, const std::wstring& exe) {
    const std::wstring title = L"Word stand-in (Orvelle tests)";
    return SetText(root, kClsidKey, title) && SetText(root, kClsidKey + L"\\LocalServer32", L"\"" + exe + L"\"") &&
           SetText(root, kClsidKey + L"\\ProgID", kVersionedProgId) &&
           SetText(root, kClsidKey + L"\\VersionIndependentProgID", standin::kProgId) &&
           SetText(root, kProgIdKey, title) && SetText(root, kProgIdKey + L"\\CLSID", standin::kClsidText) &&
           SetText(root, kProgIdKey + L"\\CurVer", kVersionedProgId) && SetText(root, kVersionedKey, title) &&
           SetText(root, kVersionedKey + L"\\CLSID", standin::kClsidText);
}

// Wine's COM (wine 8) reads classes only from the machine's hive, never
// from HKCU\Software\Classes.
bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace

bool RegisterServer() {
    wchar_t exe[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    if (n == 0 || n >= std::size(exe)) return false;
    if (!Write(HKEY_CURRENT_USER, exe)) return false;
    // Never over a real Word that the machine has registered.
    if (UnderWine() && PointsToUs(HKEY_LOCAL_MACHINE)) return Write(HKEY_LOCAL_MACHINE, exe);
    return true;
}

bool UnregisterServer() {
    bool ok = true;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (root == HKEY_LOCAL_MACHINE && !UnderWine()) continue;
        ok = DeleteTree(root, kClsidKey) && ok;
        if (PointsToUs(root)) ok = DeleteTree(root, kProgIdKey) && ok;
        if (PointsToUs(root, kVersionedKey)) ok = DeleteTree(root, kVersionedKey) && ok;
    }
    return ok;
}
