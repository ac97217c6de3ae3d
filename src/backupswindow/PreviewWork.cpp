#include "backupswindow/PreviewWork.h"

#include "common/Failure.h"
#include "common/SlimLock.h"
#include "common/WorkerThread.h"
#include "backupswindow/WordDiff.h"

#include <mutex>

namespace {

constexpr wchar_t kClassicNote[] = L"A Word 97-2003 backup: its text cannot be shown here. Open a copy to see it.";

// The text of the document as Word holds it now, read from its package as a
// backup's is; none when it is not open or Word does not give it.
std::shared_ptr<const BackupText> WordText(const BackupTexts& texts, const ListedDocument& open) {
    try {
        const Dispatch document = OpenDocumentOf(open).document;
        return document ? texts.fromFlatOpc(document.get(L"WordOpenXML").toText()) : nullptr;
    } catch (const Failure&) {
        return nullptr;
    }
}

void Append(std::vector<std::wstring_view>& to, std::wstring_view text) {
    const std::vector<std::wstring_view> paragraphs = SplitParagraphs(text);
    to.insert(to.end(), paragraphs.begin(), paragraphs.end());
}

// Each part of before against the same part of after (the main part for the
// main part, else the part of its name; none: all of it gone); without an
// after, against itself.
std::vector<DiffParagraph> Difference(const BackupText& before, const BackupText* after) {
    std::vector<std::wstring_view> a, z;
    for (size_t i = 0; i < before.parts.size(); ++i) {
        const PartText& part = *before.parts[i];
        Append(a, part.text);
        const PartText* later = after ? nullptr : &part;
        if (after && i == 0 && !after->parts.empty()) later = after->parts[0].get();
        for (size_t k = 1; after && i > 0 && k < after->parts.size() && !later; ++k)
            if (after->parts[k]->name == part.name) later = after->parts[k].get();
        if (later) Append(z, later->text);
    }
    return DiffParagraphs(a, z);
}

}  // namespace

PreviewContent MakePreview(BackupTexts& texts, const PreviewRequest& request, const std::atomic<bool>& stop) {
    if (IsClassicWordFile(request.backup.path)) return PreviewNote(kClassicNote);
    std::shared_ptr<const BackupText> before, after;
    try {
        before = texts.read(request.backup.path, request.backup.written, request.backup.size);
    } catch (const Failure& failure) {
        return PreviewNote(failure.description());
    }
    if (stop) return {};
    if (!request.next) {
        after = WordText(texts, request.open);
    } else if (!IsClassicWordFile(request.next->path)) {
        try {
            after = texts.read(request.next->path, request.next->written, request.next->size);
        } catch (const Failure&) {
        }
    }
    if (stop) return {};
    const std::vector<DiffParagraph> difference = Difference(*before, after.get());
    if (stop) return {};
    return PreviewOf(difference, texts.fold(), request.query);
}

struct PreviewWork::State {
    std::atomic<bool> stop{false};
    SlimLock mutex;  // guards what follows
    std::optional<PreviewContent> content;
    bool abandoned = false;
};

PreviewWork::PreviewWork(std::shared_ptr<BackupTexts> texts, PreviewRequest request, HWND window, UINT message)
    : state_(std::make_shared<State>()) {
    auto work = [state = state_, texts = std::move(texts), request = std::move(request), window, message] {
        PreviewContent content;
        {
            // Word is asked for the newest backup's comparison, from this thread's own apartment.
            OleScope ole;
            MessageFilterRegistration filter;
            try {
                content = MakePreview(*texts, request, state->stop);
            } catch (const std::exception&) {
                content = PreviewNote(L"There is not enough memory to show this backup.");
            }
        }
        std::lock_guard lock(state->mutex);
        if (state->abandoned) return;
        state->content = std::move(content);
        PostMessageW(window, message, 0, 0);
    };
    if (!StartWorkerThread(std::move(work)))
        throw Failure::Text(L"The backup could not be shown: no thread could be started.");
}

PreviewWork::~PreviewWork() {
    state_->stop = true;
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
}

std::optional<PreviewContent> PreviewWork::take() {
    std::lock_guard lock(state_->mutex);
    return std::exchange(state_->content, std::nullopt);
}
