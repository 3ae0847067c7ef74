#include "monitor/status_poll.h"

#include <cstdio>

#include "wire/enclosure_status.h"

namespace kestrel {

void Timer2Tick(SchedulerFlags& flags) {
    if (flags.DetectCountdown.load() || flags.Probing.load() || flags.MaintenanceBusy.load()) {
        if (flags.MaintenanceBusy.load()) flags.RefreshFlags.fetch_and(static_cast<uint8_t>(~refresh::kMonitoring));
        return;
    }
    if (flags.RefreshFlags.load() & refresh::kMonitoring) {
        flags.RequestRefresh(refresh::kStatusPoll);
    } else {
        // Re-arm only; a pending configuration write is dropped with it.
        flags.RefreshFlags.store(refresh::kMonitoring);
    }
}

StatusPoll::StatusPoll(SchedulerFlags& flags, DriveTable& drives, WindowState& shell, StatusBar& bar,
                       StatusPollLinks links)
    : flags_(flags), drives_(drives), shell_(shell), bar_(bar), links_(std::move(links)) {}

void StatusPoll::Run() {
    PollRound cut;
    cut.cutShort = true;
    if (flags_.DetectCountdown.load() || flags_.Probing.load() || flags_.MaintenanceBusy.load()) return Tell(cut);
    uint8_t refreshed = 0;
    for (unsigned slot = 0; slot < 2; ++slot) {
        if (flags_.MaintenanceBusy.load()) return Tell(cut);
        // Ticked again (by the user or a new detection): monitored as any.
        if (shell_.Model().deviceChecked[slot]) droppedOut_[slot] = false;
        if (slot >= drives_.EnclosureCount || !shell_.Model().deviceChecked[slot] || slot == drives_.LockedEnclosure)
            continue;
        drives_.SelectedEnclosure = slot;
        uint8_t& backoff = flags_.PollBackoff[slot];
        if (backoff & 1) {
            ++backoff;
            continue;
        }
        Block512 record{};
        if (!links_.readStatus || !links_.readStatus(slot, record)) {
            ++backoff;
            if (backoff > 10) {
                // The slot drops out of monitoring: its box is unchecked,
                // which runs the box's click handler like a user's click.
                backoff = 0;
                shell_.SetDeviceChecked(static_cast<int>(slot), false);
                droppedOut_[slot] = true;
            }
            continue;
        }
        Accept(slot, record);
        refreshed |= static_cast<uint8_t>(1u << slot);
        backoff = 0;
    }
    PollRound round;
    round.refreshed = refreshed;
    round.records = SlotStatuses(drives_, refreshed);
    round.statusPageDue = refreshed && shell_.Model().currentPage == kPageStatus;
    round.forcePage = shell_.Model().firstStatusPending;
    Tell(round);
}

void StatusPoll::Tell(const PollRound& round) const {
    if (!round.cutShort)
        for (const PollListener& listener : links_.listeners)
            if (listener) listener(round);
    for (const PollListener& listener : everyRound_)
        if (listener) listener(round);
}

void StatusPoll::Accept(unsigned slot, Block512& record) {
    const unsigned drive = drives_.DriveOfSlot(slot);
    if (drive >= drives_.CurrentStatus.size()) return;
    Block512& current = drives_.CurrentStatus[drive];
    const uint8_t diskState = DiskStateOf(record);
    const uint8_t tracked = links_.lastProgress ? links_.lastProgress(static_cast<int>(slot)) : 255;
    if (diskState == 0 && tracked != 255) {
        char text[48];
        std::snprintf(text, sizeof text, "HDD Status = 0x%02X, Err Count = 0x%02X", diskState, flags_.BadRecordCount);
        bar_.SetPanel(4, text);
        ++flags_.BadRecordCount;
        return;
    }
    KeepPulledIdentity(current, record);
    current = record;
}

}  // namespace kestrel
