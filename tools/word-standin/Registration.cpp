#include "Registration.h"

#include "Objects.h"
#include "Protocol.h"

#include <windows.h>
#include <oleauto.h>

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

// Our library of Word's event interface: {7E1D3A52-...}.
constexpr GUID kEventsLibrary = {0x7e1d3a52, 0x41c6, 0x4b7e, {0x9a, 0x0b, 0x2f, 0x53, 0x61, 0xd8, 0x0e, 0x94}};
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring EventsLibraryPath(const std::wstring& exe) {
    return exe.substr(0, exe.find_last_of(L'\\') + 1) + L"word-standin-events.tlb";
}

// Word's type library registers each event dispinterface (marshalled as
// IDispatch), which is what lets a listener in another process be asked for
// ApplicationEvents2.  Ours holds that one interface; never over Office's.
bool RegisterEventsLibrary(const std::wstring& exe) {
    const std::wstring owner = ReadText(HKEY_CLASSES_ROOT, L"Interface\\{000209FE-0000-0000-C000-000000000046}\\TypeLib");
    if (!owner.empty() && owner != L"{7E1D3A52-41C6-4B7E-9A0B-2F5361D80E94}") return true;
    const std::wstring path = EventsLibraryPath(exe);
    ComPtr<ICreateTypeLib2> library;
    ComPtr<ICreateTypeInfo> info;
    ComPtr<ITypeLib> standard, saved;
    ComPtr<ITypeInfo> dispatch;
    HREFTYPE base = 0;
    if (FAILED(CreateTypeLib2(kSysKind, path.c_str(), &library)) || FAILED(library->SetGuid(kEventsLibrary)) ||
        FAILED(library->SetName(const_cast<LPOLESTR>(L"WordStandInEvents"))) || FAILED(library->SetVersion(1, 0)) ||
        FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"ApplicationEvents2"), TKIND_DISPATCH, &info)) ||
        FAILED(info->SetGuid(kApplicationEvents2)) || FAILED(LoadRegTypeLib(IID_StdOle, 2, 0, 0, &standard)) ||
        FAILED(standard->GetTypeInfoOfGuid(IID_IDispatch, &dispatch)) ||
        FAILED(info->AddRefTypeInfo(dispatch.Get(), &base)) || FAILED(info->AddImplType(0, base)) ||
        FAILED(info->LayOut()) || FAILED(library->SaveAllChanges()))
        return false;
    info.Reset();
    library.Reset();
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &saved))) return false;
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    std::wstring file = path;
    return SUCCEEDED(RegisterTypeLib(saved.Get(), file.data(), folder.data()));
}

}  // namespace

bool RegisterServer() {
    wchar_t exe[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    if (n == 0 || n >= std::size(exe)) return false;
    if (!Write(HKEY_CURRENT_USER, exe)) return false;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!RegisterEventsLibrary(exe)) return false;
    // Never over a real Word that the machine has registered.
    if (UnderWine() && PointsToUs(HKEY_LOCAL_MACHINE)) return Write(HKEY_LOCAL_MACHINE, exe);
    return true;
}

bool UnregisterServer() {
    bool ok = true;
    UnRegisterTypeLib(kEventsLibrary, 1, 0, 0, kSysKind);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (root == HKEY_LOCAL_MACHINE && !UnderWine()) continue;
        ok = DeleteTree(root, kClsidKey) && ok;
        if (PointsToUs(root)) ok = DeleteTree(root, kProgIdKey) && ok;
        if (PointsToUs(root, kVersionedKey)) ok = DeleteTree(root, kVersionedKey) && ok;
    }
    return ok;
}
