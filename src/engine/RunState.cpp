#include "engine/RunState.h"

#include "common/Handle.h"

#include <algorithm>

namespace {

// A file the user opens from Explorer while the run works can land in an
// instance of ours, and Quit would close it unsaved: true only when every
// document there is one the run added (COM keeps one proxy per object).
bool HoldsOnlyOwnDocuments(const Word& instance) {
    Dispatch documents = instance.app.get(L"Documents").toDispatch();
    for (short i = 1, count = static_cast<short>(documents.get(L"Count").toLong()); i <= count; ++i) {
        Microsoft::WRL::ComPtr<IUnknown> identity;
        documents.get(L"Item", {Variant::ByRef(&i)}).toDispatch().raw()->QueryInterface(IID_PPV_ARGS(&identity));
        if (std::ranges::find(instance.added, identity.Get(), &Microsoft::WRL::ComPtr<IUnknown>::Get) ==
            instance.added.end())
            return false;
    }
    return true;
}

}  // namespace

WordProcess ProcessOfWord(const Dispatch& app) {
    long hwnd = 0;
    try {
        hwnd = app.get(L"ActiveWindow").toDispatch().get(L"Hwnd").toLong();
    } catch (const Failure& failure) {
        if (IsServerGone(failure) || IsServerBusy(failure)) throw;
        return {};
    }
    DWORD id = 0;
    if (!GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<LONG_PTR>(hwnd)), &id)) return {};
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    FILETIME created{}, exited, kernel, user;
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return {id, 0};
    return {id, (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime};
}

void Quit(const Word& instance) {
    try {
        if (!HoldsOnlyOwnDocuments(instance)) return instance.app.put(L"Visible", true);
        instance.app.call(L"Quit");
    } catch (const Failure& failure) {
        if (!IsServerGone(failure)) throw;
    }
}
