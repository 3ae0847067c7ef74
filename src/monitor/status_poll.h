#pragma once
// The periodic status poll: reads the status record of each monitored slot,
// rejects garbage, keeps the identity of a pulled disk, and hands the set of
// refreshed slots to the change detection and the status page.
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "monitor/window_state.h"
#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "monitor/scheduler_flags.h"
#include "platform/user_interface.h"

namespace kestrel {

// One poll's outcome, handed to every listener in turn.
struct PollRound {
    uint8_t refreshed = 0;  // bit i: slot i was read and its record taken
    // The records taken, decoded with each enclosure's own capabilities.
    std::array<std::optional<EnclosureStatus>, 2> records;
    // The Status page is shown and something was read: it is redrawn,
    // forced while its first draw is pending.
    bool statusPageDue = false;
    bool forcePage = false;
    // A detection or maintenance stopped the poll: nothing above counts.
    // Only listeners that asked for them hear such rounds.
    bool cutShort = false;
};
using PollListener = std::function<void(const PollRound&)>;

struct StatusPollLinks {
    // Reads the record of the enclosure in slot.
    std::function<bool(unsigned slot, Block512&)> readStatus;
    // Percent last logged for the slot's tracked activity; 255 = none tracked.
    std::function<uint8_t(int slot)> lastProgress;
    // Called in order after every poll that ran (even when nothing was
    // read): the event log, the health summary, the Status page.
    std::vector<PollListener> listeners;
};

class StatusPoll {
public:
    StatusPoll(SchedulerFlags& flags, DriveTable& drives, WindowState& shell, StatusBar& bar, StatusPollLinks links);

    // One poll over slots 0 and 1; on the user-interface thread.
    void Run();
    // Reset a slot's back-off counter (its device box was clicked).
    void ClearPollCounter(int slot) {
        flags_.PollBackoff[static_cast<size_t>(slot & 1)] = 0;
        droppedOut_[static_cast<size_t>(slot & 1)] = false;
    }
    // The poll itself unticked the slot's box after it stopped answering:
    // unlike a box the user unticked, that is a failure, not a choice.
    bool DroppedOut(unsigned slot) const { return slot < 2 && droppedOut_[slot]; }
    // Adds a listener after those already there.
    void AddListener(PollListener listener) { links_.listeners.push_back(std::move(listener)); }
    // Adds a listener that also hears the rounds a detection or maintenance
    // cut short (PollRound::cutShort), after every other listener.
    void AddListenerOfEveryRound(PollListener listener) { everyRound_.push_back(std::move(listener)); }

private:
    // Step 7: keep the record unless it is garbage; returns nothing, the slot
    // counts as refreshed either way.
    void Accept(unsigned slot, Block512& record);
    // Hands the round to the listeners that hear it.
    void Tell(const PollRound& round) const;

    SchedulerFlags& flags_;
    DriveTable& drives_;
    WindowState& shell_;
    StatusBar& bar_;
    StatusPollLinks links_;
    std::array<bool, 2> droppedOut_{};
    std::vector<PollListener> everyRound_;
};

// What Timer2 does on each tick.
void Timer2Tick(SchedulerFlags& flags);

}  // namespace kestrel
