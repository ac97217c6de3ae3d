#include "engine/Intervals.h"

#include "common/Failure.h"

long GetIntervalSeconds(const std::optional<std::wstring>& selectedItemText) {
    if (!selectedItemText) throw Failure::ObjectNotSet();
    for (const auto& item : kIntervals)
        if (*selectedItemText == item.text) return item.seconds;
    return 0;
}
