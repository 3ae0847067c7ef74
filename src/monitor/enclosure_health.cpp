#include "monitor/enclosure_health.h"

#include <algorithm>

namespace kestrel {

namespace {
constexpr unsigned kSlots = 2;
std::string SlotLabel(int slot) { return "Device" + std::to_string(slot + 1); }
}  // namespace

EnclosureHealth ReadHealth(const EnclosureStatus& s) {
    EnclosureHealth h;
    h.bothDisksPresent = s.BothPresent();
    for (size_t d = 0; d < s.disks.size() && !h.bothDisksPresent && h.missingDisk.empty(); ++d)
        if (s.disks[d].condition != DiskCondition::Present)
            h.missingDisk = "HDD" + std::to_string(d + 1) + " " + ConditionName(s.disks[d].condition);
    if (s.Running()) {
        h.scanning = s.activity == Activity::Scan;
        h.rebuilding = !h.scanning;
        h.percent = s.progress;
    }
    if (s.sensors) {
        h.fanFailure = s.sensors->fanFailure;
        h.overTemperature = s.sensors->overTemperature;
    }
    h.temperature = static_cast<int>(s.temperature);

    if (s.array == ArrayState::Failure) h.state = HealthState::Failed;
    else if (h.overTemperature) h.state = HealthState::OverHeated;
    else if (h.fanFailure) h.state = HealthState::FanFailure;
    else if (h.rebuilding) h.state = HealthState::Rebuilding;
    else if (!h.bothDisksPresent) h.state = HealthState::Degraded;
    else if (h.scanning) h.state = HealthState::Scanning;
    return h;
}

HealthLevel LevelOf(HealthState state) {
    switch (state) {
        case HealthState::Normal: return HealthLevel::Normal;
        case HealthState::Scanning:
        case HealthState::Degraded:
        case HealthState::Rebuilding: return HealthLevel::Attention;
        case HealthState::FanFailure:
        case HealthState::OverHeated:
        case HealthState::Failed:
        case HealthState::Gone: break;
    }
    return HealthLevel::Alarm;
}

std::string HealthText(const EnclosureHealth& h) {
    const std::string percent = h.percent >= 0 ? " " + std::to_string(h.percent) + "%" : "";
    switch (h.state) {
        case HealthState::Normal: return "Normal";
        case HealthState::Scanning: return "Scanning" + percent;
        case HealthState::Degraded: return h.missingDisk.empty() ? "Degraded" : "Degraded (" + h.missingDisk + ")";
        case HealthState::Rebuilding: return "Rebuilding" + percent;
        case HealthState::FanFailure:
        case HealthState::OverHeated: return SensorAlarmLine(h);
        case HealthState::Failed: return "Failed";
        case HealthState::Gone: return "Gone";
    }
    return {};
}

std::string SensorAlarmLine(const EnclosureHealth& h) {
    std::string line;
    if (h.fanFailure) line = "Fan failure";
    if (h.overTemperature)
        line += (line.empty() ? "" : ", ") + std::string("Over temperature: ") + std::to_string(h.temperature) +
                " \xC2\xB0" "C";
    return line;
}

std::vector<RebuildEnd> HealthBoard::Update(const DriveTable& drives, const std::array<bool, 2>& monitored,
                                            const SlotRecords& polled) {
    std::vector<RebuildEnd> ended;
    const unsigned count = std::min(drives.EnclosureCount, kSlots);
    if (drives.EnclosureCount > lastCount_) gone_.clear();
    lastCount_ = drives.EnclosureCount;
    rows_.clear();
    for (unsigned slot = 0; slot < kSlots; ++slot) {
        if (slot >= count) {
            read_[slot] = false;
            rebuilding_[slot] = false;
            continue;
        }
        if (polled[slot]) read_[slot] = true;
        HealthRow row;
        row.slot = static_cast<int>(slot);
        row.label = SlotLabel(row.slot);
        row.monitored = monitored[slot];
        row.known = read_[slot] && row.monitored;
        if (row.known) {
            row.health = ReadHealth(polled[slot] ? *polled[slot] : SlotStatus(drives, slot));
            if (rebuilding_[slot] && !row.health.rebuilding)
                ended.push_back({row.slot, row.health.bothDisksPresent && row.health.state != HealthState::Failed});
            rebuilding_[slot] = row.health.rebuilding;
        }
        rows_.push_back(row);
    }
    rows_.insert(rows_.end(), gone_.begin(), gone_.end());
    return ended;
}

void HealthBoard::EnclosureRemoved(int slot) {
    HealthRow row;
    row.slot = slot;
    row.label = SlotLabel(slot);
    row.known = true;
    row.health.state = HealthState::Gone;
    gone_.push_back(row);
    // The enclosures behind it move up a slot: what was read of them is
    // read again before it counts.
    read_ = {};
    rebuilding_ = {};
}

std::optional<HealthState> HealthBoard::Worst() const {
    std::optional<HealthState> worst;
    for (const HealthRow& row : rows_)
        if (row.known && (!worst || row.health.state > *worst)) worst = row.health.state;
    return worst;
}

std::string HealthBoard::Summary(const std::string& title) const {
    std::string text = title;
    if (rows_.empty()) return text + "\nNo enclosure detected yet";
    for (const HealthRow& row : rows_) text += "\n" + RowText(row);
    return text;
}

std::string RowText(const HealthRow& row) {
    if (!row.monitored) return row.label + ": Not monitored";
    if (!row.known) return row.label + ": waiting for its status";
    return row.label + ": " + HealthText(row.health);
}

}  // namespace kestrel
