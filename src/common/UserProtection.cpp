#include "common/UserProtection.h"

#include "common/Failure.h"
#include "common/Main.h"

#include <windows.h>
#include <dpapi.h>

namespace {

using ProtectFn = BOOL(WINAPI*)(DATA_BLOB*, LPCWSTR, DATA_BLOB*, PVOID, CRYPTPROTECT_PROMPTSTRUCT*, DWORD, DATA_BLOB*);
using UnprotectFn = BOOL(WINAPI*)(DATA_BLOB*, LPWSTR*, DATA_BLOB*, PVOID, CRYPTPROTECT_PROMPTSTRUCT*, DWORD,
                                  DATA_BLOB*);

struct Crypt32 {
    ProtectFn protect = nullptr;
    UnprotectFn unprotect = nullptr;
};

const Crypt32& LoadCrypt32() {
    static const Crypt32 crypt32 = [] {
        Crypt32 functions;
        const std::wstring folder = SystemFolder();
        if (HMODULE module = folder.empty() ? nullptr : LoadLibraryW((folder + L"\\crypt32.dll").c_str())) {
            functions.protect = reinterpret_cast<ProtectFn>(GetProcAddress(module, "CryptProtectData"));
            functions.unprotect = reinterpret_cast<UnprotectFn>(GetProcAddress(module, "CryptUnprotectData"));
        }
        return functions;
    }();
    if (!crypt32.protect || !crypt32.unprotect)
        throw Failure::Text(L"Windows data protection (crypt32.dll) could not be loaded.");
    return crypt32;
}

DATA_BLOB BlobOf(std::string_view bytes) {
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

// Takes the system's output buffer, which LocalFree releases.
std::string Taken(DATA_BLOB& out) {
    std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return bytes;
}

void CheckSize(std::string_view bytes) {
    if (bytes.size() > 0xFFFFFFFFull) throw Failure::FromWin32(ERROR_ARITHMETIC_OVERFLOW);
}

}  // namespace

std::string ProtectForUser(std::string_view bytes, const std::wstring& description) {
    CheckSize(bytes);
    DATA_BLOB in = BlobOf(bytes), out{};
    // No UI: a backup is made while nobody watches.
    if (!LoadCrypt32().protect(&in, description.c_str(), nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        throw Failure::FromLastError();
    return Taken(out);
}

std::string UnprotectForUser(std::string_view protectedBytes) {
    CheckSize(protectedBytes);
    DATA_BLOB in = BlobOf(protectedBytes), out{};
    if (!LoadCrypt32().unprotect(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        throw Failure::FromLastError();
    return Taken(out);
}
