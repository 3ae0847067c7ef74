#pragma once
// What the history keeps: per enclosure, one reading row a minute (older
// ones thinned to one an hour) and the day-log events as rows of their own.
// Plain values, handed from the poll's thread to the writer's.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// Who an enclosure is, whatever slot it sits in: its controller's model and
// serial number; for a controller without a serial, its model and its
// member disks' serial numbers (a pulled disk keeps its serial in the
// record, and the store follows a replaced disk by the other one). The
// firmware revision is kept beside it, not part of it: an upgrade does not
// start a new history.
struct EnclosureKey {
    std::string model;
    std::string serial;                  // the controller's; empty when it has none
    std::array<std::string, 2> serials;  // HDD1, HDD2; empty when none is known
    std::string firmware;

    // For comparing: "model|serial" or "model||serial1|serial2".
    std::string Text() const {
        return serial.empty() ? model + "||" + serials[0] + '|' + serials[1] : model + '|' + serial;
    }
    bool SameAs(const EnclosureKey& other) const { return Text() == other.Text(); }
};

// Readings of one span of time. Minutes are counted from the Unix epoch
// (UTC); a row covers [minute, minute + span).
struct ReadingRow {
    EnclosureKey enclosure;  // the writer resolves it to the enclosure's number
    int64_t enclosureId = 0; // in rows read back
    int slot = 0;            // 0 = Device1, where the last poll of the span read it
    int64_t minute = 0;
    int span = 1;            // minutes: 1, or 60 once thinned
    int polls = 0;
    int sensorPolls = 0;     // polls that carried fan and temperature
    int tempMin = 0, tempMax = 0;
    int tempMeanTenths = 0;  // mean temperature in tenths of a degree
    int fanMin = 0, fanMax = 0, fanMean = 0;  // rpm
    int state = 0;           // the worst HealthState of the span

    bool HasSensors() const { return sensorPolls > 0; }
    double TempMean() const { return tempMeanTenths / 10.0; }
};

struct EventRow {
    EnclosureKey enclosure;
    int64_t enclosureId = 0;
    int slot = 0;
    int64_t timeMs = 0;      // Unix time in milliseconds
    std::string kind;        // see EventKindOf
    std::string text;
};

// What the poll hands to the writer at most once a minute.
struct HistoryBatch {
    std::vector<ReadingRow> readings;
    std::vector<EventRow> events;
    int64_t nowMinute = 0;   // the poll's minute: when to thin and drop old rows
};

// One enclosure as the store knows it.
struct StoredEnclosure {
    int64_t id = 0;
    EnclosureKey key;
    int64_t firstMs = 0, lastMs = 0;
    int lastSlot = 0;
};

// How long rows stay: minutes for 31 days, then one row an hour, dropped
// after 400 days.
inline constexpr int64_t kMinuteRowsKeptMinutes = 31 * 24 * 60;
inline constexpr int64_t kRowsKeptMinutes = 400 * 24 * 60;

// The name of a stored state ("normal", "degraded", "over-heated", ...).
const char* StateName(int state);
// The kind of a day-log event line: "disk", "progress", "rebuild", "scan",
// "bad-sector", "alarm", "enclosure", "upgrade" or "other".
std::string EventKindOf(const std::string& line);

}  // namespace kestrel
