#include "engine/WordEvents.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <chrono>

using Microsoft::WRL::ComPtr;

namespace {

// Word's ApplicationEvents2 and the DISPIDs of the events we take.
constexpr GUID kApplicationEvents2 = {0x000209FE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr DISPID kQuit = 2, kDocumentBeforeClose = 6;
// Advise and Unadvise are calls into Word like any other: a hung Word must
// not hold up a run or the exit.
constexpr std::chrono::milliseconds kConnectBound{2000};

ComPtr<IGlobalInterfaceTable> Table() {
    ComPtr<IGlobalInterfaceTable> table;
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&table));
    return table;
}

}  // namespace

// The listener Word calls: the events' dispinterface, answered by DISPID.
class EventSink final : public IDispatch {
public:
    EventSink(WordEventsHandler& handler, const ListenedWord& word) : handler_(&handler), word_(word) {}
    void detach() { handler_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kApplicationEvents2) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return count ? S_OK : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    // Nothing is thrown back into Word, and Cancel (by reference) is left
    // as Word passed it: the close always goes on.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        ComPtr<IDispatch> keepAlive(this);
        try {
            if (!handler_) return S_OK;
            if (id == kDocumentBeforeClose && params && params->cArgs >= 2) {
                // Arguments come in reverse order: Doc is the last.
                Variant doc;
                ThrowIfFailed(VariantCopyInd(doc.get(), &params->rgvarg[params->cArgs - 1]));
                if (doc.isObject()) handler_->DocumentClosing(word_, doc.toDispatch());
            } else if (id == kQuit) {
                handler_->WordQuitting(word_);
            }
        } catch (...) {
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    WordEventsHandler* handler_;
    ListenedWord word_;
};

struct WordListeners::Listening {
    ComPtr<IUnknown> identity;
    ComPtr<IConnectionPoint> point;
    ComPtr<EventSink> sink;
    DWORD cookie = 0;
    ListenedWord word;

    ~Listening() {
        if (sink) sink->detach();
        CallDeadline bound(kConnectBound);
        if (point && cookie) point->Unadvise(cookie);  // a Word that has gone cannot be told
        if (word.tableCookie)
            if (auto table = Table()) table->RevokeInterfaceFromGlobal(word.tableCookie);
        // Releases are calls into Word too: within the bound.
        point.Reset();
        word.app.reset();
        identity.Reset();
    }
};

WordListeners::WordListeners(WordEventsHandler& handler) : handler_(handler) {}
WordListeners::~WordListeners() { forgetAll(); }

bool WordListeners::listen(const FoundWord& found) {
    const auto same = [&](const ComPtr<IUnknown>& identity) { return identity.Get() == found.identity.Get(); };
    if (std::ranges::any_of(words_, [&](const auto& w) { return same(w->identity); }) ||
        std::ranges::any_of(refused_, same))
        return !std::ranges::any_of(refused_, same);
    CallDeadline bound(kConnectBound);
    auto listening = std::make_unique<Listening>();
    ComPtr<IConnectionPointContainer> container;
    ListenedWord& word = listening->word;
    word = {found.app, found.process, 0};
    if (auto table = Table()) table->RegisterInterfaceInGlobal(found.app.raw(), IID_IDispatch, &word.tableCookie);
    listening->sink.Attach(new EventSink(handler_, word));
    if (FAILED(found.app.raw()->QueryInterface(IID_PPV_ARGS(&container))) ||
        FAILED(container->FindConnectionPoint(kApplicationEvents2, &listening->point)) ||
        FAILED(listening->point->Advise(static_cast<IDispatch*>(listening->sink.Get()), &listening->cookie))) {
        // Backed up by the timer as before; nothing to tell the user.
        refused_.push_back(found.identity);
        return false;
    }
    listening->identity = found.identity;
    words_.push_back(std::move(listening));
    return true;
}

void WordListeners::forget(const ListenedWord& word) {
    std::erase_if(words_, [&](const auto& w) { return w->word.app.raw() == word.app.raw(); });
}

void WordListeners::forgetGone() {
    CallDeadline bound(kConnectBound);
    std::erase_if(words_, [](const auto& w) {
        UINT count = 0;
        return IsServerGone(Failure(w->word.app.raw()->GetTypeInfoCount(&count), L""));
    });
}

void WordListeners::forgetAll() { words_.clear(); }

std::vector<ListenedWord> WordListeners::words() const {
    std::vector<ListenedWord> words;
    for (const auto& w : words_) words.push_back(w->word);
    return words;
}

Dispatch WordFromTable(DWORD tableCookie) {
    ComPtr<IDispatch> app;
    if (auto table = Table(); !table || FAILED(table->GetInterfaceFromGlobal(tableCookie, IID_PPV_ARGS(&app))))
        return {};
    return Dispatch(app);
}
