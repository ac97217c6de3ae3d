#pragma once
// Thinning: which of one document's stamped backups stay as they age.
#include <windows.h>

#include <cstdint>
#include <vector>

// One backup as thinning sees it: its last write (FILETIME ticks, UTC) and
// its size in bytes.
struct AgedBackup {
    std::uint64_t written = 0;
    std::uint64_t size = 0;
};

// Which of backups stay at now (FILETIME ticks, UTC), one flag each in their
// order, with hours, days and weeks (from Monday) on zone's wall clock: every
// backup of the last 2 hours, the newest of each hour for 2 days, of each day
// for 30 days and of each week after that; always the newest, any dated after
// now, and any whose next backup that stays is more than 30 % smaller (the
// copy from before the user deleted half the document).  What stays stays
// again when the same backups are thinned at the same now.
std::vector<bool> ThinningKeeps(const std::vector<AgedBackup>& backups, std::uint64_t now,
                                const TIME_ZONE_INFORMATION& zone);
