#include "engine/Thinning.h"

#include <algorithm>
#include <compare>
#include <numeric>
#include <optional>
#include <set>

namespace {

constexpr std::uint64_t kMinute = 60ull * 10'000'000, kHour = 60 * kMinute, kDay = 24 * kHour;

// The backups a backup is thinned against: those of its age's tier in the
// same wall-clock hour, day or week.  An hour also carries the offset from
// UTC, so that the hour repeated when the clocks go back counts as the two
// hours it is.
struct Bucket {
    int tier;
    std::uint64_t period;
    std::int64_t offsetMinutes;
    auto operator<=>(const Bucket&) const = default;
};

// None for a backup that stays whatever its neighbours: a young one, one
// dated after now, one whose local time cannot be told.
std::optional<Bucket> BucketOf(std::uint64_t written, std::uint64_t now, const TIME_ZONE_INFORMATION& zone) {
    if (written > now || now - written <= 2 * kHour) return std::nullopt;
    const std::uint64_t age = now - written;
    // SYSTEMTIME holds milliseconds: the offset comes out in whole minutes.
    const std::uint64_t utcTicks = written - written % 10'000;
    const FILETIME utc{static_cast<DWORD>(utcTicks), static_cast<DWORD>(utcTicks >> 32)};
    SYSTEMTIME utcTime, localTime;
    FILETIME local;
    if (!FileTimeToSystemTime(&utc, &utcTime) || !SystemTimeToTzSpecificLocalTime(&zone, &utcTime, &localTime) ||
        !SystemTimeToFileTime(&localTime, &local))
        return std::nullopt;
    const std::uint64_t localTicks = (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    const auto offset = static_cast<std::int64_t>(localTicks - utcTicks) / static_cast<std::int64_t>(kMinute);
    if (age <= 2 * kDay) return Bucket{1, localTicks / kHour, offset};
    if (age <= 30 * kDay) return Bucket{2, localTicks / kDay, 0};
    return Bucket{3, localTicks / (7 * kDay), 0};  // 1 January 1601 was a Monday
}

}  // namespace

// From the newest back, so that each backup is weighed against the next one
// that stays: a shrink spread over backups that go still counts, and a
// second pass meets the same neighbours and keeps the same backups.
std::vector<bool> ThinningKeeps(const std::vector<AgedBackup>& backups, std::uint64_t now,
                                const TIME_ZONE_INFORMATION& zone) {
    std::vector<size_t> order(backups.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return backups[a].written > backups[b].written; });
    std::vector<bool> keep(backups.size(), false);
    std::set<Bucket> filled;
    const AgedBackup* next = nullptr;
    for (size_t i : order) {
        const AgedBackup& backup = backups[i];
        const std::optional<Bucket> bucket = BucketOf(backup.written, now, zone);
        const bool newestOfBucket = bucket && filled.insert(*bucket).second;
        if (!next || !bucket || newestOfBucket || next->size * 10 < backup.size * 7) {
            keep[i] = true;
            next = &backup;
        }
    }
    return keep;
}
