#include "backupswindow/TextFold.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace {

// A code unit's folded form: up to three units, which covers every
// decomposition Word's text is likely to hold (longer ones are cut).
struct Folded {
    std::uint8_t count = 0;
    wchar_t units[3] = {};
};

std::uint64_t Pack(const Folded& f) {
    return 1ull << 63 | static_cast<std::uint64_t>(f.count) << 48 | static_cast<std::uint64_t>(f.units[0]) << 32 |
           static_cast<std::uint64_t>(f.units[1]) << 16 | f.units[2];
}
Folded Unpack(std::uint64_t v) {
    Folded f;
    f.count = static_cast<std::uint8_t>(v >> 48 & 0xFF);
    f.units[0] = static_cast<wchar_t>(v >> 32 & 0xFFFF);
    f.units[1] = static_cast<wchar_t>(v >> 16 & 0xFFFF);
    f.units[2] = static_cast<wchar_t>(v & 0xFFFF);
    return f;
}


Folded Compute(wchar_t c) {
    Folded f;
    WORD type = 0;
    if (c >= 0xD800 && c <= 0xDFFF) {  // half of a pair: kept as it is
        f.count = 1;
        f.units[0] = c;
        return f;
    }
    if (GetStringTypeW(CT_CTYPE1, &c, 1, &type) && (type & C1_SPACE)) {
        f.count = 1;
        f.units[0] = L' ';
        return f;
    }
    wchar_t decomposed[18];
    int n = NormalizeString(NormalizationKD, &c, 1, decomposed, 18);
    if (n <= 0) {
        decomposed[0] = c;
        n = 1;
    }
    WORD types[18] = {};
    GetStringTypeW(CT_CTYPE3, decomposed, n, types);
    std::wstring kept;
    for (int i = 0; i < n; ++i)
        if (!(types[i] & C3_NONSPACING)) kept += decomposed[i] == 0xA0 ? L' ' : decomposed[i];
    // The system's casing, the same for every user: no Turkish dotless i
    // keeps "I" from "i".
    CharUpperBuffW(kept.data(), static_cast<DWORD>(kept.size()));
    CharLowerBuffW(kept.data(), static_cast<DWORD>(kept.size()));
    f.count = static_cast<std::uint8_t>(std::min<size_t>(kept.size(), 3));
    std::copy_n(kept.begin(), f.count, f.units);
    return f;
}

}  // namespace

// Filled as characters are met: two threads computing one entry compute
// the same value, so relaxed stores suffice.
struct TextFold::Table {
    std::atomic<std::uint64_t> entries[0x10000] = {};
    Folded at(wchar_t c) {
        std::uint64_t v = entries[c].load(std::memory_order_relaxed);
        if (!v) {
            v = Pack(Compute(c));
            entries[c].store(v, std::memory_order_relaxed);
        }
        return Unpack(v);
    }
};

TextFold::TextFold() : table_(std::make_unique<Table>()) {}
TextFold::~TextFold() = default;

std::wstring TextFold::fold(std::wstring_view text, std::vector<std::uint32_t>* origins) const {
    std::wstring out;
    out.reserve(text.size());
    if (origins) {
        origins->clear();
        origins->reserve(text.size());
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const Folded f = table_->at(text[i]);
        for (int k = 0; k < f.count; ++k) {
            if (f.units[k] == L' ' && (out.empty() || out.back() == L' ')) continue;
            out += f.units[k];
            if (origins) origins->push_back(static_cast<std::uint32_t>(i));
        }
    }
    return out;
}

std::wstring TextFold::query(std::wstring_view words) const {
    std::wstring q = fold(words);
    if (!q.empty() && q.back() == L' ') q.pop_back();
    if (!q.empty() && q.front() == L' ') q.erase(0, 1);
    return q;
}

size_t FindFolded(std::wstring_view folded, std::wstring_view query, size_t from) {
    return query.empty() ? std::wstring_view::npos : folded.find(query, from);
}
