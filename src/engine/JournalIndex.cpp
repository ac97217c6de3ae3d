#include "engine/JournalIndex.h"

#include <algorithm>

void JournalIndex::clear() {
    sorted_ = {};
    recent_ = {};
    live_ = 0;
}

const JournalIndex::Slot* JournalIndex::lookUp(const std::vector<Slot>& slots, std::uint64_t path) {
    auto it = std::lower_bound(slots.begin(), slots.end(), path,
                               [](const Slot& slot, std::uint64_t p) { return slot.path() < p; });
    return it != slots.end() && it->path() == path ? &*it : nullptr;
}

std::optional<std::uint32_t> JournalIndex::find(std::uint64_t path) const {
    const Slot* slot = lookUp(recent_, path);
    if (!slot) slot = lookUp(sorted_, path);
    if (!slot || slot->line == kDeleted) return std::nullopt;
    return slot->line;
}

// Both sorted by path; on a tie the newer slot wins.
std::vector<JournalIndex::Slot> JournalIndex::merged(const std::vector<Slot>& older, const std::vector<Slot>& newer,
                                                     bool dropDeleted) {
    std::vector<Slot> out;
    out.reserve(older.size() + newer.size());
    auto put = [&](const Slot& slot) {
        if (!dropDeleted || slot.line != kDeleted) out.push_back(slot);
    };
    size_t i = 0, j = 0;
    while (i < older.size() || j < newer.size()) {
        if (j == newer.size() || (i < older.size() && older[i].path() < newer[j].path())) {
            put(older[i++]);
        } else {
            if (i < older.size() && older[i].path() == newer[j].path()) ++i;
            put(newer[j++]);
        }
    }
    out.shrink_to_fit();
    return out;
}

void JournalIndex::apply(std::vector<Change> changes) {
    if (changes.empty()) return;
    // The last change of each path, sorted by path.
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.path < b.path; });
    std::vector<Slot> batch;
    batch.reserve(changes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
        if (i + 1 < changes.size() && changes[i + 1].path == changes[i].path) continue;
        const Change& c = changes[i];
        const bool was = find(c.path).has_value(), is = c.line != kDeleted;
        if (was && !is) --live_;
        if (!was && is) ++live_;
        batch.push_back({static_cast<std::uint32_t>(c.path >> 32), static_cast<std::uint32_t>(c.path), c.line});
    }
    changes = {};
    recent_ = merged(recent_, batch, false);
    // Folded in once it is no longer small: a run's few records cost a
    // copy of the small array, not of the whole index.
    if (recent_.size() > 4096 + sorted_.size() / 16) {
        sorted_ = merged(sorted_, recent_, true);
        recent_ = {};
    }
}

std::vector<std::uint32_t> JournalIndex::lines() const {
    std::vector<std::uint32_t> lines;
    lines.reserve(live_);
    for (const Slot& slot : sorted_)
        if (!lookUp(recent_, slot.path())) lines.push_back(slot.line);
    for (const Slot& slot : recent_)
        if (slot.line != kDeleted) lines.push_back(slot.line);
    std::sort(lines.begin(), lines.end());
    return lines;
}
