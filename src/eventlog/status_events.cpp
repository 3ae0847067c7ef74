#include "eventlog/status_events.h"

#include <vector>

#include "eventlog/log_text.h"
#include "wire/status_sector.h"

namespace kestrel {

using namespace status;
using logtext::DeviceTag;
using logtext::MemberName;

bool StatusEvents::Apply(unsigned index, const Block512& s, bool scanReporting, bool diskStateRules,
                         const std::string& ts, const Emit& emit) {
    bool changed = false;
    if (diskStateRules) changed |= DiskStateChanges(index, s, ts, emit);
    SensorAlerts(index, s);
    changed |= ActivityProgress(index, s, scanReporting, ts, emit);
    changed |= BadSectors(index, s, ts, emit);
    return changed;
}

void StatusEvents::SetLastDiskState(unsigned index, uint8_t diskState) {
    memory_[index % kEnclosures].LastDiskState = diskState;
}

bool StatusEvents::DiskStateChanges(unsigned index, const Block512& s, const std::string& ts, const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    const uint8_t state = s[kDiskState];
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
        std::vector<std::string> lines;
        if (bit == kAbsent) {
            lines.push_back(tag + " " + name + " was removed, " + ts);
        } else if (bit == kPresent) {
            // HDD2's line has a comma before the bracket, HDD1's has not.
            lines.push_back(tag + " " + name + " was initialized" + (disk == 0 ? " " : ", ") + "(SATA" +
                            logtext::MemberSpeed(s, disk) + "), " + ts);
            logtext::AppendDetailLines(lines, s, disk, "  ", "Model no.: ");
        } else if (bit == kFailed) {
            lines.push_back(tag + " " + name + " was failed, Capacity too small." + ts);
            logtext::AppendDetailLines(lines, s, disk, "  ", "Model no.: ");
        } else {
            lines.push_back(tag + " " + name + " was inserted, " + ts);
        }
        for (auto& line : lines) emit(std::move(line));
        if (bit == kAbsent) alerts_.ComposeAlert(static_cast<int>(NotificationEvent::HddFail), static_cast<int>(index), disk);
    }
    // A changed state is recorded even when no line results.
    return true;
}

void StatusEvents::SensorAlerts(unsigned index, const Block512& s) {
    const uint8_t env = s[kEnvFlags];
    if (s[kSensorSupport] != 0x11 || (env & 0xF0) != 0xA0) return;
    uint8_t& last = memory_[index % kEnclosures].LastEnvFlags;
    if ((env & kFanFailure) && !(last & kFanFailure))
        alerts_.ComposeAlert(static_cast<int>(NotificationEvent::FanFail), static_cast<int>(index), 0);
    if ((env & kOverTemperature) && !(last & kOverTemperature))
        alerts_.ComposeAlert(static_cast<int>(NotificationEvent::OverHeat), static_cast<int>(index), 0);
    last = env;
}

bool StatusEvents::ActivityProgress(unsigned index, const Block512& s, bool scanReporting, const std::string& ts,
                                    const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    const uint8_t activity = s[kActivityFlags];
    const uint8_t progress = s[kProgress];
    const std::string tag = DeviceTag(index);
    // Rebuild lines name the copy direction: a rebuild onto HDD1 copies from HDD2.
    auto activityName = [&](uint8_t target) {
        if (m.ScanInProgress) return std::string(target == 0 ? " HDD1 Scan " : " HDD2 Scan ");
        return std::string(target == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ");
    };

    if (activity & (kTargetHdd1 | kTargetHdd2)) {
        m.ScanInProgress = scanReporting && (activity & kMediaScan);
        if (m.LastProgress != EnclosureMemory::kNoActivity && m.LastProgress == progress) return false;
        m.LastProgress = progress;
        m.ActivityTarget = (activity & kTargetHdd1) ? 0 : 1;
        emit(tag + activityName(m.ActivityTarget) + std::to_string(progress) + "%, " + ts);
        return true;
    }

    bool wrote = false;
    const bool bothPresent = (s[kDiskState] & kBothPresent) == kBothPresent;
    if (m.LastProgress != EnclosureMemory::kNoActivity && bothPresent) {
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

bool StatusEvents::BadSectors(unsigned index, const Block512& s, const std::string& ts, const Emit& emit) {
    EnclosureMemory& m = memory_[index % kEnclosures];
    const uint8_t activity = s[kActivityFlags];
    const uint8_t reported = activity & (kBadSectorHdd1 | kBadSectorHdd2);
    if (reported == 0) return false;
    const uint8_t count = s[kBadSectorCount];
    if (count == 0 || count == m.LastBadSectorCount) return false;
    if (count < m.LastBadSectorCount) {
        m.LastBadSectorCount = count;
        return false;
    }
    const unsigned first = count - m.LastBadSectorCount > 10 ? count - 10u : m.LastBadSectorCount;

    int disk = -1;
    if (reported == kBadSectorHdd1) {
        disk = 0;
    } else if (reported == kBadSectorHdd2) {
        disk = 1;
    } else if (activity & kTargetHdd1) {
        disk = m.ScanInProgress ? 0 : 1;
    } else if (activity & kTargetHdd2) {
        disk = m.ScanInProgress ? 1 : 0;
    } else if (s[kDiskState] & kPresent) {
        disk = 0;
    } else if (s[kDiskState] & (kPresent << 4)) {
        disk = 1;
    }
    const std::string tag = DeviceTag(index);
    if (disk >= 0) emit(tag + " " + MemberName(disk) + " Bad Sector was found. " + ts);
    for (unsigned k = first; k < count; ++k) emit("  LBA: " + std::to_string(BadSectorAddress(s, k)));
    m.LastBadSectorCount = count;
    return true;
}

}  // namespace kestrel
