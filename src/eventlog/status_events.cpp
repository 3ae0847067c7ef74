#include "eventlog/status_events.h"

#include <vector>

#include "eventlog/log_text.h"
#include "wire/status_sector.h"

namespace kestrel {

using namespace status;
using logtext::DeviceTag;
using logtext::MemberName;

bool StatusEvents::Apply(unsigned index, const EnclosureStatus& s, bool diskStateRules, const std::string& ts,
                         const Emit& emit) {
    bool changed = false;
    if (diskStateRules) changed |= DiskStateChanges(index, s, ts, emit);
    changed |= SensorAlerts(index, s, ts, emit);
    changed |= ActivityProgress(index, s, ts, emit);
    changed |= BadSectors(index, s, ts, emit);
    return changed;
}

void StatusEvents::SetLastDiskState(unsigned index, uint8_t diskState) {
    memory_[index % kEnclosures].LastDiskState = diskState;
}

bool StatusEvents::DiskStateChanges(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    const uint8_t state = s.diskState;
    if (state == m.LastDiskState) return false;
    const uint8_t old = m.LastDiskState == 0xFF ? 0 : m.LastDiskState;
    m.LastDiskState = state;

    const std::string tag = DeviceTag(index);
    for (int disk = 0; disk < 2; ++disk) {
        const uint8_t now = DiskNibble(state, disk);
        const uint8_t before = DiskNibble(old, disk);
        uint8_t bit = 0;
        for (uint8_t candidate : {kAbsent, kPresent, kFailed, kInserted}) {
            if (now & candidate) {
                bit = candidate;
                break;
            }
        }
        if (bit == 0 || (before & bit)) continue;

        const std::string name = MemberName(disk);
        const MemberStatus& member = s.disks[static_cast<size_t>(disk)];
        std::vector<std::string> lines;
        if (bit == kAbsent) {
            lines.push_back(tag + " " + name + " was removed, " + ts);
        } else if (bit == kPresent) {
            // HDD2's line has a comma before the bracket, HDD1's has not.
            lines.push_back(tag + " " + name + " was initialized" + (disk == 0 ? " " : ", ") + "(SATA" +
                            logtext::MemberSpeed(member) + "), " + ts);
            logtext::AppendDetailLines(lines, member, "  ", "Model no.: ");
        } else if (bit == kFailed) {
            lines.push_back(tag + " " + name + " was failed, Capacity too small." + ts);
            logtext::AppendDetailLines(lines, member, "  ", "Model no.: ");
        } else {
            lines.push_back(tag + " " + name + " was inserted, " + ts);
        }
        for (auto& line : lines) emit(std::move(line));
        if (bit == kAbsent) alerts_.ComposeAlert(static_cast<int>(NotificationEvent::HddFail), static_cast<int>(index), disk);
    }
    // A changed state is recorded even when no line results.
    return true;
}

std::string SensorReadings(const EnclosureStatus& s) {
    return "fan " + std::to_string(s.fanRpm) + " RPM, " + std::to_string(s.temperature) + " \xC2\xB0" "C";
}

// Each alarm's start and end is a line of its own, with what the sensors
// read; the start also raises the alert, whose mail carries the readings.
bool StatusEvents::SensorAlerts(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit) {
    if (!s.sensors) return false;
    uint8_t& last = memory_[index % kEnclosures].LastEnvFlags;
    const std::string tag = DeviceTag(index);
    const std::string readings = SensorReadings(s);
    const std::vector<std::string> details = {"Fan speed : " + std::to_string(s.fanRpm) + " RPM",
                                              "Temperature : " + std::to_string(s.temperature) + " \xC2\xB0" "C"};
    bool wrote = false;
    auto alarm = [&](bool now, uint8_t bit, const char* name, NotificationEvent kind) {
        const bool before = (last & bit) != 0;
        if (now == before) return;
        emit(tag + " " + name + (now ? " began (" : " ended (") + readings + "), " + ts);
        wrote = true;
        if (now) alerts_.RaiseAlert(Alert{static_cast<int>(kind), static_cast<int>(index), 0, {}, details});
    };
    alarm(s.sensors->fanFailure, kFanFailure, "Fan failure", NotificationEvent::FanFail);
    alarm(s.sensors->overTemperature, kOverTemperature, "Over temperature", NotificationEvent::OverHeat);
    last = s.envFlags;
    return wrote;
}

bool StatusEvents::ActivityProgress(unsigned index, const EnclosureStatus& s, const std::string& ts,
                                    const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    const uint8_t progress = s.progress;
    const std::string tag = DeviceTag(index);
    // Rebuild lines name the copy direction: a rebuild onto HDD1 copies from HDD2.
    auto activityName = [&](uint8_t target) {
        if (m.ScanInProgress) return std::string(target == 0 ? " HDD1 Scan " : " HDD2 Scan ");
        return std::string(target == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ");
    };

    if (s.Running()) {
        m.ScanInProgress = s.activity == Activity::Scan;
        if (m.LastProgress != EnclosureMemory::kNoActivity && m.LastProgress == progress) return false;
        m.LastProgress = progress;
        m.ActivityTarget = static_cast<uint8_t>(s.target);
        emit(tag + activityName(m.ActivityTarget) + std::to_string(progress) + "%, " + ts);
        return true;
    }

    bool wrote = false;
    if (m.LastProgress != EnclosureMemory::kNoActivity && s.BothPresent()) {
        if (m.LastProgress == 99)
            emit(tag + activityName(m.ActivityTarget) + "Done, " + ts);
        else
            emit(tag + " HDD1 OK, HDD2 OK, " + ts);
        wrote = true;
    }
    m.LastProgress = EnclosureMemory::kNoActivity;
    m.ScanInProgress = false;
    return wrote;
}

bool StatusEvents::BadSectors(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    if (!s.badSectorHdd1 && !s.badSectorHdd2) return false;
    const uint8_t count = s.badSectorCount;
    if (count == 0 || count == m.LastBadSectorCount) return false;
    if (count < m.LastBadSectorCount) {
        m.LastBadSectorCount = count;
        return false;
    }
    const unsigned first = count - m.LastBadSectorCount > 10 ? count - 10u : m.LastBadSectorCount;

    int disk = -1;
    if (!s.badSectorHdd2) {
        disk = 0;
    } else if (!s.badSectorHdd1) {
        disk = 1;
    } else if (s.Running()) {
        // Both bits: the disk of the running activity, which a rebuild
        // reads from the other member.
        disk = s.target == 0 ? (m.ScanInProgress ? 0 : 1) : (m.ScanInProgress ? 1 : 0);
    } else if (s.disks[0].PresentBit()) {
        disk = 0;
    } else if (s.disks[1].PresentBit()) {
        disk = 1;
    }
    const std::string tag = DeviceTag(index);
    if (disk >= 0) emit(tag + " " + MemberName(disk) + " Bad Sector was found. " + ts);
    for (unsigned k = first; k < count; ++k) emit("  LBA: " + std::to_string(s.BadSectorAddress(k)));
    m.LastBadSectorCount = count;
    return true;
}

}  // namespace kestrel
