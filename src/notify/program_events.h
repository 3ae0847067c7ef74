#pragma once
// Which events the event program hears of, from the records the poll reads
// and the enclosures a detection finds: alerts and their end (a member disk
// lost, the enclosure removed, over-heat, fan failure), a disk inserted, a
// rebuild's or a scan's start and end, an enclosure found. Remembers per slot
// what the last record said, so that each change is one event.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "notify/event_program.h"
#include "wire/enclosure_status.h"

namespace kestrel {

class ProgramEventRules {
public:
    // A record just read from the enclosure in slot (0 = Device1). model:
    // the enclosure's; state: its state as the status query names it. The
    // first record of a slot raises what is wrong already (as the day log
    // and the alert mail do), nothing that is fine.
    std::vector<ProgramEvent> Observe(int slot, const EnclosureStatus& status, const std::string& model,
                                      const std::string& state);
    // After a detection: the model of the enclosure now in each slot
    // (nullopt: none). An enclosure that appears is found; one that left
    // is removed, and its slot is forgotten.
    std::vector<ProgramEvent> Detected(const std::array<std::optional<std::string>, 2>& models);

private:
    struct Memory {
        bool seen = false;
        std::array<DiskCondition, 2> disks{DiskCondition::Present, DiskCondition::Present};
        std::array<bool, 2> lost{};
        bool fanFailure = false;
        bool overTemperature = false;
        Activity activity = Activity::None;
        int target = 0;
    };
    std::array<Memory, 2> memory_{};
    std::array<std::optional<std::string>, 2> present_{};
};

}  // namespace kestrel
