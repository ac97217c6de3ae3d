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

void Quit(const Word& instance) {
    try {
        if (!HoldsOnlyOwnDocuments(instance)) return instance.app.put(L"Visible", true);
        instance.app.call(L"Quit");
    } catch (const Failure& failure) {
        if (!IsServerGone(failure)) throw;
    }
}
