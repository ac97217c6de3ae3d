#include "backupswindow/WordDiff.h"

#include <algorithm>
#include <string>

namespace {

void Push(std::vector<DiffRun>& runs, DiffKind kind, std::uint32_t count) {
    if (!count) return;
    if (!runs.empty() && runs.back().kind == kind) runs.back().count += count;
    else runs.push_back({kind, count});
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == 0xA0 || c == L'\r' || c == L'\n'; }

// Words, each with the white space after it; leading space is a piece of its own.
std::vector<std::wstring_view> Words(std::wstring_view text) {
    std::vector<std::wstring_view> words;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && !IsSpace(text[end])) ++end;
        while (end < text.size() && IsSpace(text[end])) ++end;
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::wstring_view Trimmed(std::wstring_view word) {
    while (!word.empty() && IsSpace(word.back())) word.remove_suffix(1);
    return word;
}

// Items as 64-bit FNV-1a hashes of their text: equal texts, equal ids; two
// different texts meet with odds of about n^2 / 2^65, none in a document's
// lifetime.  (A hash table of the texts would cost the exe 4 KB.)
std::vector<std::uint64_t> Ids(const std::vector<std::wstring_view>& items, bool words) {
    std::vector<std::uint64_t> ids;
    ids.reserve(items.size());
    for (std::wstring_view item : items) {
        std::uint64_t hash = 14695981039346656037ull;
        for (wchar_t c : words ? Trimmed(item) : item) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
        ids.push_back(hash);
    }
    return ids;
}

void AddWords(DiffParagraph& paragraph, const std::vector<std::wstring_view>& words, size_t from, size_t count,
              DiffKind kind) {
    for (size_t i = from; i < from + count; ++i) {
        if (!paragraph.empty() && paragraph.back().kind == kind &&
            paragraph.back().text.data() + paragraph.back().text.size() == words[i].data())
            paragraph.back().text = {paragraph.back().text.data(), paragraph.back().text.size() + words[i].size()};
        else
            paragraph.push_back({kind, words[i]});
    }
}

DiffParagraph DiffWords(std::wstring_view before, std::wstring_view after) {
    const std::vector<std::wstring_view> a = Words(before), b = Words(after);
    const std::vector<std::uint64_t> x = Ids(a, true), y = Ids(b, true);
    DiffParagraph paragraph;
    size_t i = 0, j = 0;
    for (const DiffRun& run : MyersDiff(x, y)) {
        if (run.kind == DiffKind::Added) {
            AddWords(paragraph, b, j, run.count, DiffKind::Added), j += run.count;
        } else if (run.kind == DiffKind::Deleted) {
            AddWords(paragraph, a, i, run.count, DiffKind::Deleted), i += run.count;
        } else {
            // A word the same in both, with the space after it of whichever
            // has one: "first." that ends a paragraph before and is followed
            // by an added sentence after must not run into it.
            for (std::uint32_t k = 0; k < run.count; ++k, ++i, ++j)
                AddWords(paragraph, a[i].size() > Trimmed(a[i]).size() ? a : b,
                         a[i].size() > Trimmed(a[i]).size() ? i : j, 1, DiffKind::Same);
        }
    }
    return paragraph;
}

}  // namespace

std::vector<DiffRun> MyersDiff(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b,
                               int maxEdits) {
    // What both begin and end with costs nothing to find.
    size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const int n = static_cast<int>(a.size() - head - tail), m = static_cast<int>(b.size() - head - tail);
    auto A = [&](int i) { return a[head + i]; };
    auto B = [&](int j) { return b[head + j]; };
    std::vector<DiffRun> middle;  // backwards
    // trace[d][k + d]: the furthest x on diagonal k after d edits.
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= std::min(n + m, maxEdits) && found < 0; ++d) {
        std::vector<int> v(2 * d + 1);
        for (int k = -d; k <= d; k += 2) {
            int x;
            if (d == 0) x = 0;
            else if (k == -d || (k != d && trace[d - 1][k - 1 + d - 1] < trace[d - 1][k + 1 + d - 1]))
                x = trace[d - 1][k + 1 + d - 1];
            else
                x = trace[d - 1][k - 1 + d - 1] + 1;
            int y = x - k;
            while (x < n && y < m && A(x) == B(y)) ++x, ++y;
            v[k + d] = x;
            if (x >= n && y >= m) found = d;
        }
        trace.push_back(std::move(v));
    }
    std::vector<DiffRun> runs;
    Push(runs, DiffKind::Same, static_cast<std::uint32_t>(head));
    if (found < 0) {  // too many differences: the rest is replaced
        Push(runs, DiffKind::Deleted, n);
        Push(runs, DiffKind::Added, m);
    } else {
        int x = n, y = m;
        for (int d = found; d > 0; --d) {
            const int k = x - y;
            const std::vector<int>& v = trace[d - 1];
            const bool down = k == -d || (k != d && v[k - 1 + d - 1] < v[k + 1 + d - 1]);
            const int pk = down ? k + 1 : k - 1, px = v[pk + d - 1], py = px - pk;
            const int snake = std::min(x - px - (down ? 0 : 1), y - py - (down ? 1 : 0));
            middle.push_back({DiffKind::Same, static_cast<std::uint32_t>(snake)});
            middle.push_back({down ? DiffKind::Added : DiffKind::Deleted, 1});
            x = px, y = py;
        }
        middle.push_back({DiffKind::Same, static_cast<std::uint32_t>(x)});
        for (auto it = middle.rbegin(); it != middle.rend(); ++it) Push(runs, it->kind, it->count);
    }
    Push(runs, DiffKind::Same, static_cast<std::uint32_t>(tail));
    return runs;
}

std::vector<DiffParagraph> DiffParagraphs(const std::vector<std::wstring_view>& before,
                                          const std::vector<std::wstring_view>& after) {
    const std::vector<std::uint64_t> x = Ids(before, false), y = Ids(after, false);
    std::vector<DiffParagraph> merged;
    size_t i = 0, j = 0;
    auto whole = [&](std::wstring_view text, DiffKind kind) {
        merged.push_back(text.empty() ? DiffParagraph{} : DiffParagraph{{kind, text}});
    };
    const std::vector<DiffRun> runs = MyersDiff(x, y);
    for (size_t r = 0; r < runs.size(); ++r) {
        if (runs[r].kind == DiffKind::Same) {
            for (std::uint32_t c = 0; c < runs[r].count; ++c, ++i, ++j) whole(before[i], DiffKind::Same);
            continue;
        }
        // A change: deleted paragraphs, then added ones; pairs of them in
        // order are the same paragraph changed, diffed word by word.
        std::uint32_t deleted = 0, added = 0;
        for (; r < runs.size() && runs[r].kind != DiffKind::Same; ++r)
            (runs[r].kind == DiffKind::Deleted ? deleted : added) += runs[r].count;
        --r;
        const std::uint32_t pairs = std::min(deleted, added);
        for (std::uint32_t c = 0; c < pairs; ++c) merged.push_back(DiffWords(before[i++], after[j++]));
        for (std::uint32_t c = pairs; c < deleted; ++c) whole(before[i++], DiffKind::Deleted);
        for (std::uint32_t c = pairs; c < added; ++c) whole(after[j++], DiffKind::Added);
    }
    return merged;
}

std::vector<std::wstring_view> SplitParagraphs(std::wstring_view text) {
    std::vector<std::wstring_view> paragraphs;
    size_t at = 0;
    for (size_t end; (end = text.find_first_of(L"\r\n", at)) != std::wstring_view::npos; at = end + 1)
        paragraphs.push_back(text.substr(at, end - at));
    if (at < text.size()) paragraphs.push_back(text.substr(at));
    return paragraphs;
}
