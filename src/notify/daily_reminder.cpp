#include "notify/daily_reminder.h"

namespace kestrel {

std::optional<int64_t> DailyReminder::Check(int slot, bool problem, int64_t nowMs) {
    if (slot < 0 || slot >= kSlots) return std::nullopt;
    Episode& e = episodes_[static_cast<size_t>(slot)];
    if (!problem) {
        e.since = -1;
        return std::nullopt;
    }
    if (e.since < 0) {
        e.since = e.last = nowMs;  // the alert tells the start
        return std::nullopt;
    }
    if (nowMs - e.last < kDayMs) return std::nullopt;
    e.last = nowMs;
    return e.since;
}

}  // namespace kestrel
