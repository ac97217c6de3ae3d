#pragma once
// What one backup run holds while it works: the three Word instances, the
// clipboard as the run shares it, and whether the run has been finished
// from outside (the window closed while it waited).
#include "common/Automation.h"
#include "common/Failure.h"
#include "common/Guard.h"
#include "engine/BackupJournal.h"
#include "engine/Clipboard.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

// One Word instance as the run uses it: the application and its Documents
// collection, both held for the run, and one id cache for its documents, one for
// their ranges and one for their Permission objects, whose ids are the same
// for every one of them.
struct Word {
    Dispatch app, documents;
    WordProcess process;
    std::shared_ptr<MemberIds> documentIds = std::make_shared<MemberIds>();
    std::shared_ptr<MemberIds> rangeIds = std::make_shared<MemberIds>();
    std::shared_ptr<MemberIds> permissionIds = std::make_shared<MemberIds>();
    std::vector<Microsoft::WRL::ComPtr<IUnknown>> added;  // the documents the run made here, by identity

    void attach(Dispatch application) {
        app = std::move(application);
        documents = app.get(L"Documents").toDispatch();
    }
    explicit operator bool() const { return !app.empty(); }
    void reset() {
        documents.reset();
        app.reset();
        added.clear();
    }

    // The documents open now, in collection order, from one walk of the
    // collection's enumerator: one round trip for all of them.
    std::vector<Dispatch> snapshot() const {
        Microsoft::WRL::ComPtr<IEnumVARIANT> walk;
        ThrowIfFailed(documents.invoke(DISPID_NEWENUM, DISPATCH_PROPERTYGET | DISPATCH_METHOD)
                          .toUnknown()
                          .As(&walk));
        std::vector<Dispatch> open;
        VARIANT batch[256];
        for (ULONG fetched = std::size(batch); fetched == std::size(batch);) {
            fetched = 0;
            HRESULT hr = walk->Next(std::size(batch), batch, &fetched);
            ThrowIfFailed(hr);
            for (ULONG k = 0; k < fetched; ++k) {
                Variant item = Variant::Adopt(batch[k]);
                if (item.isObject()) open.push_back(item.toDispatch().shareIds(documentIds));
            }
        }
        return open;
    }
    Dispatch add() {
        Dispatch document = documents.call(L"add").toDispatch().shareIds(documentIds);
        document.raw()->QueryInterface(IID_PPV_ARGS(&added.emplace_back()));
        return document;
    }
    // The whole content of a document; empty when no range came back.
    Dispatch range(const Dispatch& document) const {
        Variant range = document.get(L"Range");
        return range.isObject() ? range.toDispatch().shareIds(rangeIds) : Dispatch();
    }
};

// False once the server behind the reference has gone; one cheap call.
inline bool Alive(const Word& instance) {
    if (!instance) return false;
    UINT count = 0;
    return !IsServerGone(Failure(instance.app.raw()->GetTypeInfoCount(&count), L""));
}


// Quits an instance of our own; one that holds a document of the user's is
// shown instead, and one that has already gone needs no word.
void Quit(const Word& instance);

// What a run holds that must be let go of even when the run cannot get
// back to its own end (the window closes while it waits).
struct RunState {
    explicit RunState(HWND owner) : owner(owner), clipboard(owner) {}

    HWND owner;
    Word user, backup, scratch;
    bool scratchGone = false;
    bool clipboardInUse = false;
    bool contestReported = false;
    RunClipboard clipboard;
    Guard* guard = nullptr;
    bool finished = false;

    // After a failure: does the run end?  A clipboard kept by another
    // program, or the user's Word or the backup instance gone, ends it (one
    // report, not one per later step); a dead scratch instance only ends
    // the scratch copies.
    bool endsRunAfter(const Failure& failure) {
        if (IsClipboardInUse(failure)) return clipboardInUse = true;
        if (!IsServerGone(failure)) return false;
        if (Alive(user) && Alive(backup) && !Alive(scratch)) {
            scratchGone = true;
            return false;
        }
        return true;
    }

    // Both instances of our own are told to quit; the user's never is.
    void quitInstances(Guard& cleanup) {
        backup.documents.reset();
        scratch.documents.reset();
        if (backup) cleanup.step(50, [&] { Quit(backup); });
        if (scratch && !scratchGone) cleanup.step(51, [&] { Quit(scratch); });
        backup.reset();
        scratch.reset();
        user.reset();
    }
    void finish(Guard& cleanup) {
        finished = true;
        quitInstances(cleanup);
        // A run that has said the clipboard is in use says it once.
        Guard quiet = Guard::Quiet();
        (clipboardInUse ? quiet : cleanup).step(52, [&] {
            try {
                clipboard.restore();
            } catch (const Failure& failure) {
                if (!IsClipboardInUse(failure)) throw;
                throw Failure::Text(L"The clipboard is in use by another program, so what you had copied before "
                                    L"the backup could not be put back.");
            }
        });
    }
};
