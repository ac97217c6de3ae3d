#pragma once
// Word's application events (the ApplicationEvents2 connection point),
// listened to in each Word of the user's that a run backs up.  Word calls
// the listener on the GUI thread from inside its own close and waits for
// it; DocumentBeforeClose comes before Word asks whether to save.
#include "engine/WordInstances.h"

#include <memory>
#include <vector>

// A Word listened to, as the handler and other threads of the process see it.
struct ListenedWord {
    Dispatch app;
    WordProcess process;
    DWORD tableCookie = 0;  // the application in the global interface table, for another thread
};

class WordEventsHandler {
public:
    virtual ~WordEventsHandler() = default;
    // Inside Word's close: bounded, never modal, Cancel never touched.
    virtual void DocumentClosing(const ListenedWord& word, const Dispatch& document) = 0;
    // Word is quitting: stop listening to it.
    virtual void WordQuitting(const ListenedWord& word) = 0;
};

class WordListeners {
public:
    explicit WordListeners(WordEventsHandler& handler);
    ~WordListeners();
    WordListeners(const WordListeners&) = delete;
    WordListeners& operator=(const WordListeners&) = delete;

    // Listens to a Word a run found, once per Word (by COM identity).  False
    // when it refuses; a refusing Word is not asked again.
    bool listen(const FoundWord& word);
    // Stops listening to one Word (it quits), to the ones whose server has
    // gone, or to all (at exit, or the option turned off).
    void forget(const ListenedWord& word);
    void forgetGone();
    void forgetAll();
    std::vector<ListenedWord> words() const;
    bool empty() const { return words_.empty(); }

private:
    struct Listening;
    WordEventsHandler& handler_;
    std::vector<std::unique_ptr<Listening>> words_;
    std::vector<Microsoft::WRL::ComPtr<IUnknown>> refused_;
};

// The Word's application again on another thread of this process, from
// its entry in the global interface table; empty when it cannot be had.
Dispatch WordFromTable(DWORD tableCookie);
