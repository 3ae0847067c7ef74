#pragma once
// The optional daily reminder: while an enclosure stays degraded, failed or
// in alarm, a reminder once a day after the alert that told its start. Kept
// per slot in memory; an episode ends when the problem does.
#include <array>
#include <cstdint>
#include <optional>

namespace kestrel {

// Beside the specified values in the settings file: the daily reminder is
// on (1) or off (0, or absent).
inline constexpr char kDailyReminderValue[] = "DailyReminder";

class DailyReminder {
public:
    static constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
    static constexpr int kSlots = 2;

    // After a poll: whether slot has a problem at nowMs (milliseconds since
    // the epoch). Returns when the problem began when a reminder is due now.
    std::optional<int64_t> Check(int slot, bool problem, int64_t nowMs);

private:
    struct Episode {
        int64_t since = -1;  // -1: no problem
        int64_t last = 0;    // the alert or the last reminder
    };
    std::array<Episode, kSlots> episodes_{};
};

}  // namespace kestrel
