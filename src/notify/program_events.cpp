#include "notify/program_events.h"

#include "wire/device_text.h"

namespace kestrel {

namespace {

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

std::string DeviceName(int slot) { return "Device" + std::to_string(slot + 1); }

}  // namespace

std::vector<ProgramEvent> ProgramEventRules::Observe(int slot, const EnclosureStatus& s, const std::string& model,
                                                     const std::string& state) {
    std::vector<ProgramEvent> events;
    if (slot < 0 || slot > 1) return events;
    Memory& m = memory_[static_cast<size_t>(slot)];
    auto event = [&](const char* kind, const char* severity, int disk, std::string message) {
        ProgramEvent e;
        e.kind = kind;
        e.severity = severity;
        e.slot = slot + 1;
        e.enclosureModel = model;
        e.state = state;
        e.message = DeviceName(slot) + " (" + model + "): " + message;
        if (disk >= 0) {
            e.disk = disk + 1;
            const MemberStatus& member = s.disks[static_cast<size_t>(disk)];
            e.diskModel = Trimmed(DeviceText(member.model));
            e.diskSerial = Trimmed(DeviceText(member.serial));
        }
        events.push_back(std::move(e));
        return &events.back();
    };

    for (int d = 0; d < 2; ++d) {
        const DiskCondition now = s.disks[static_cast<size_t>(d)].condition;
        const DiskCondition before = m.disks[static_cast<size_t>(d)];
        const std::string hdd = "HDD" + std::to_string(d + 1);
        if (now == before && m.seen) continue;
        if (now == DiskCondition::Absent && before != DiskCondition::Absent) {
            event("disk-lost", "alarm", d, hdd + " was removed");
            m.lost[static_cast<size_t>(d)] = true;
        } else if (now == DiskCondition::Failed && before != DiskCondition::Failed) {
            event("disk-failed", "alarm", d, hdd + " failed");
        } else if (now == DiskCondition::Inserted && m.seen) {
            event("disk-inserted", "info", d, hdd + " was inserted");
        }
        if ((now == DiskCondition::Present || now == DiskCondition::Inserted) && m.lost[static_cast<size_t>(d)]) {
            event("disk-lost-end", "info", d, hdd + " is back");
            m.lost[static_cast<size_t>(d)] = false;
        }
        m.disks[static_cast<size_t>(d)] = now;
    }

    const bool fan = s.sensors && s.sensors->fanFailure;
    const bool hot = s.sensors && s.sensors->overTemperature;
    if (fan != m.fanFailure)
        event(fan ? "fan-failure" : "fan-failure-end", fan ? "alarm" : "info", -1,
              fan ? "Fan failure" : "the fan runs again");
    if (hot != m.overTemperature)
        event(hot ? "over-temperature" : "over-temperature-end", hot ? "alarm" : "info", -1,
              (hot ? "Over temperature: " : "temperature normal again: ") + std::to_string(s.temperature) + " C");
    m.fanFailure = fan;
    m.overTemperature = hot;

    // An activity that changes kind or target ends one and starts another.
    const bool started = s.Running() && (m.activity != s.activity || m.target != s.target);
    if (m.activity != Activity::None && (started || !s.Running())) {
        const bool scan = m.activity == Activity::Scan;
        ProgramEvent* e = event(scan ? "scan-end" : "rebuild-end", s.BothPresent() ? "info" : "attention", m.target,
                                std::string(scan ? "media scan of HDD" : "rebuild of HDD") +
                                    std::to_string(m.target + 1) + (s.BothPresent() ? " ended" : " stopped"));
        e->result = s.BothPresent() ? "ok" : "failed";
    }
    if (started) {
        const bool scan = s.activity == Activity::Scan;
        event(scan ? "scan-start" : "rebuild-start", "attention", s.target,
              std::string(scan ? "media scan of HDD" : "rebuild of HDD") + std::to_string(s.target + 1) + " started");
    }
    m.activity = s.activity;
    m.target = s.target;
    m.seen = true;
    return events;
}

std::vector<ProgramEvent> ProgramEventRules::Detected(const std::array<std::optional<std::string>, 2>& models) {
    std::vector<ProgramEvent> events;
    for (size_t slot = 0; slot < 2; ++slot) {
        const std::optional<std::string>& now = models[slot];
        const std::optional<std::string>& before = present_[slot];
        if (now == before) continue;
        ProgramEvent e;
        e.slot = static_cast<int>(slot) + 1;
        if (before) {
            e.kind = "enclosure-removed";
            e.severity = "alarm";
            e.enclosureModel = *before;
            e.message = DeviceName(static_cast<int>(slot)) + " (" + *before + ") was removed";
            events.push_back(e);
            memory_[slot] = Memory{};
        }
        if (now) {
            e.kind = "enclosure-found";
            e.severity = "info";
            e.enclosureModel = *now;
            e.message = DeviceName(static_cast<int>(slot)) + " (" + *now + ") was found";
            events.push_back(e);
        }
        present_[slot] = now;
    }
    return events;
}

}  // namespace kestrel
