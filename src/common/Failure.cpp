#include "common/Failure.h"

#include "common/Handle.h"
#include "common/Text.h"

#include <new>

Failure::Failure(long number, std::wstring description)
    : number_(number), description_(std::move(description)), what_(ToUtf8(description_)) {}

Failure Failure::InvalidArgument() { return {5, L"Invalid procedure call or argument"}; }
Failure Failure::Overflow() { return {6, L"Overflow"}; }
Failure Failure::TypeMismatch() { return {13, L"Type mismatch"}; }
Failure Failure::ObjectNotSet() { return {91, L"Object variable or With block variable not set"}; }
Failure Failure::IndexOutOfBounds() { return {35600, L"Index out of bounds"}; }
Failure Failure::Text(std::wstring description) { return {0, std::move(description)}; }

namespace {
// The system's code for a clipboard that cannot be opened.
constexpr long kClipboardInUse = static_cast<long>(HRESULT_FROM_WIN32(ERROR_CLIPBOARD_NOT_OPEN));

// The codes of a call whose server has stopped or crashed.
bool IsServerGoneCode(HRESULT hr) {
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}
}  // namespace

Failure Failure::ClipboardInUse() {
    return {kClipboardInUse,
            L"The clipboard is in use by another program, so no document could be copied. "
            L"The next backup will try again."};
}

bool IsClipboardInUse(const Failure& failure) { return failure.number() == kClipboardInUse; }

bool IsServerBusy(const Failure& failure) {
    return failure.number() == RPC_E_CALL_REJECTED || failure.number() == RPC_E_SERVERCALL_RETRYLATER;
}

bool IsCallTimedOut(const Failure& failure) { return failure.number() == RPC_E_CALL_CANCELED; }

Failure Failure::FromWin32(DWORD error) {
    return {static_cast<long>(HRESULT_FROM_WIN32(error)), SystemMessage(HRESULT_FROM_WIN32(error))};
}

Failure Failure::FromHresult(HRESULT hr) { return {static_cast<long>(hr), SystemMessage(hr)}; }

std::wstring SystemMessage(HRESULT hr) {
    if (IsServerGoneCode(hr)) return L"The automation server is no longer available; it may have stopped or crashed.";
    switch (hr) {
    case RPC_E_CALL_REJECTED:
    case RPC_E_SERVERCALL_RETRYLATER:
        return L"The automation server is busy and did not accept the call in time.";
    case RPC_E_CALL_CANCELED:
        return L"The automation server did not answer in time, so the call was cancelled.";
    case REGDB_E_CLASSNOTREG:
    case CO_E_CLASSSTRING:
        return L"ActiveX component can't create object";
    case MK_E_UNAVAILABLE:
        return L"The automation server is not running.";
    default:
        break;
    }
    // Win32 errors wrapped in an HRESULT are looked up by their own code,
    // which Wine's message table knows better than the wrapped form.
    DWORD code = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
    UniqueLocal<wchar_t> buffer;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    std::wstring text;
    if (n && buffer) text.assign(buffer.get(), n);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    if (text.empty()) text = L"Unexpected system error";
    return text;
}

Failure CurrentFailure() {
    try {
        throw;
    } catch (const Failure& f) {
        return f;
    } catch (const std::bad_alloc&) {
        return {7, L"Out of memory"};
    } catch (const std::exception& e) {
        return {0, FromUtf8(e.what())};
    } catch (...) {
        return {0, L"Unexpected failure"};
    }
}

bool IsServerGone(const Failure& failure) { return IsServerGoneCode(static_cast<HRESULT>(failure.number())); }
