#pragma once
// Where the last record of each backup path starts in the journal's file,
// by a hash of the path: 12 bytes a path in one sorted array, and what
// later reads changed in a small sorted array beside it, folded in once it
// grows.  A journal of 200,000 lines is held in about 2 MB, not in its text.
#include <cstdint>
#include <optional>
#include <vector>

class JournalIndex {
public:
    // Offsets fit in 32 bits: a journal is read up to 4 GB.
    static constexpr std::uint64_t kLargest = 0xFFFFFFFEull;

    // One line read: path's record starts at line, or (none) path's backup
    // was deleted.
    struct Change {
        std::uint64_t path;
        std::uint32_t line;  // kDeleted for a deletion
    };
    static constexpr std::uint32_t kDeleted = 0xFFFFFFFFu;

    void clear();
    // The changes of one read, in the file's order: a later one of a path wins.
    void apply(std::vector<Change> changes);
    std::optional<std::uint32_t> find(std::uint64_t path) const;
    // Paths with a live record.
    size_t size() const { return live_; }
    // Where each live record starts, in the file's order.
    std::vector<std::uint32_t> lines() const;

private:
    struct Slot {
        std::uint32_t high, low, line;
        std::uint64_t path() const { return static_cast<std::uint64_t>(high) << 32 | low; }
    };
    static const Slot* lookUp(const std::vector<Slot>& slots, std::uint64_t path);
    static std::vector<Slot> merged(const std::vector<Slot>& older, const std::vector<Slot>& newer, bool dropDeleted);

    std::vector<Slot> sorted_;  // by path, live records only
    std::vector<Slot> recent_;  // by path, newer than sorted_; deletions kept
    size_t live_ = 0;
};
