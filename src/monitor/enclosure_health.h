#pragma once
// What state each enclosure is in, read from its status record, and the
// worst of them: the desktop's summary (tray picture, tooltip and menu) and
// the Status page's sensor line. The event rules and the page keep their own
// texts; this only sums them up for someone who is not looking.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

namespace kestrel {

// Ordered from good to bad: the worst of several is the greatest.
enum class HealthState { Normal, Scanning, Degraded, Rebuilding, FanFailure, OverHeated, Failed, Gone };

// How alarming a state is: one picture each.
enum class HealthLevel { Normal, Attention, Alarm };

struct EnclosureHealth {
    HealthState state = HealthState::Normal;  // the worst of what follows
    bool rebuilding = false;
    bool scanning = false;
    int percent = -1;          // progress of a rebuild or scan; -1 none
    bool bothDisksPresent = true;
    std::string missingDisk;   // "HDD2 absent": the member disk the array lacks, named as on the Status page
    bool fanFailure = false;
    bool overTemperature = false;
    int temperature = 0;       // degrees Celsius as the enclosure reports it
};

EnclosureHealth ReadHealth(const EnclosureStatus& status);
HealthLevel LevelOf(HealthState state);
// "Normal", "Degraded (HDD2 absent)", "Rebuilding 24%", "Fan failure", "Gone" ...
std::string HealthText(const EnclosureHealth& health);
// The Status page's line while a sensor alarm lasts ("Fan failure",
// "Over temperature: 58 °C", or both); empty otherwise.
std::string SensorAlarmLine(const EnclosureHealth& health);

// One row of the summary: a monitored enclosure, or one that went away.
struct HealthRow {
    int slot = 0;              // 0 = Device1
    std::string label;         // "Device1"
    bool known = false;        // a status record was read (or the enclosure went away)
    bool monitored = true;     // its device box is checked
    EnclosureHealth health;
};

// "Device1: Rebuilding 24%", "Device2: Not monitored" ...
std::string RowText(const HealthRow& row);

// A rebuild that ended since the last update, and how.
struct RebuildEnd {
    int slot = 0;
    bool completed = false;    // both disks present afterwards
};

// The summary over the enclosures, updated after each status poll and each
// detection. Remembers enclosures that disappeared (they stay "Gone" until
// one is found in their slot again) and the rebuilds under way, so that each
// rebuild's end is reported once.
class HealthBoard {
public:
    // After a status poll: polled holds the records just read; the other
    // known slots keep what was read of them before. monitored: the device
    // boxes.
    std::vector<RebuildEnd> Update(const DriveTable& drives, const std::array<bool, 2>& monitored,
                                   const SlotRecords& polled = {});
    // The enclosure in slot went away (its removal alert was raised).
    void EnclosureRemoved(int slot);

    const std::vector<HealthRow>& Rows() const { return rows_; }
    // The worst row's state; nullopt when no enclosure is known.
    std::optional<HealthState> Worst() const;
    // The tooltip: the worst state first, one line per enclosure.
    std::string Summary(const std::string& title) const;

private:
    std::vector<HealthRow> rows_;
    std::vector<HealthRow> gone_;        // stay until a detection finds more enclosures
    unsigned lastCount_ = 0;
    std::array<bool, 2> read_{};         // a record of the slot's enclosure was read
    std::array<bool, 2> rebuilding_{};
};

}  // namespace kestrel
