#pragma once
// The rules that turn successive status records of an enclosure into event
// lines and alerts: member disk state changes, sensor alerts, scan and
// rebuild progress and results, bad sectors. Holds what the rules remember
// between records; lives as long as the program.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "notify/alert_sink.h"

namespace kestrel {

struct EnclosureMemory {
    static constexpr uint8_t kNoActivity = 0xFF;
    uint8_t LastDiskState = 0xFF;            // compares as 0 until first set
    uint8_t LastProgress = kNoActivity;      // percent last logged; 0xFF: nothing tracked
    bool ScanInProgress = false;             // tracked activity is a media scan
    uint8_t ActivityTarget = 0;              // 0 HDD1, 1 HDD2
    uint8_t LastBadSectorCount = 0;
    // Sensor flags as last evaluated. Kept per enclosure: one byte shared by
    // two enclosures that report sensors flips on every poll while one fan
    // fails, and its alarm would mail on every poll.
    uint8_t LastEnvFlags = 0;
};

// What the sensors read: "fan 2400 RPM, 41 °C".
std::string SensorReadings(const EnclosureStatus& status);

class StatusEvents {
public:
    static constexpr unsigned kEnclosures = 4;
    using Emit = std::function<void(std::string line)>;

    explicit StatusEvents(AlertSink& alerts) : alerts_(alerts) {}

    // Applies the rules to enclosure index's current record (decoded with
    // its own firmware's capabilities), in order; lines go to emit.
    // diskStateRules is false in a pass that wrote device blocks. Returns
    // true when anything changed that the day's file must record.
    bool Apply(unsigned index, const EnclosureStatus& status, bool diskStateRules, const std::string& timestamp,
               const Emit& emit);

    void SetLastDiskState(unsigned index, uint8_t diskState);
    // The sensor flags an earlier run evaluated last: an alarm it alerted
    // is not alerted again.
    void SetLastEnvFlags(unsigned index, uint8_t envFlags) { memory_[index % kEnclosures].LastEnvFlags = envFlags; }
    const EnclosureMemory& Memory(unsigned index) const { return memory_[index % kEnclosures]; }
    uint8_t LastProgress(unsigned index) const { return Memory(index).LastProgress; }
    uint8_t LastEnvFlags(unsigned index) const { return Memory(index).LastEnvFlags; }

private:
    bool DiskStateChanges(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit);
    bool SensorAlerts(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit);
    bool ActivityProgress(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit);
    bool BadSectors(unsigned index, const EnclosureStatus& s, const std::string& ts, const Emit& emit);

    AlertSink& alerts_;
    std::array<EnclosureMemory, kEnclosures> memory_{};
};

}  // namespace kestrel
