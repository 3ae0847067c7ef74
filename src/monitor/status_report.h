#pragma once
// The state of every enclosure as the status query prints it (text, JSON for
// scripts, metrics for a monitoring system) and as the running monitor
// publishes it for that query. Built from the drive table without widgets.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

namespace kestrel {

struct DiskReport {
    DiskCondition condition = DiskCondition::Empty;
    std::string state;  // its name: "present", "absent", "failed", "inserted", "empty"
    std::string model;
    std::string serial;
    uint64_t sectors = 0;
    std::string linkSpeed;  // "1.5G", "3G", "6G" or ""
};

// What the query says of an enclosure; the exit code is decided from this.
// NotMonitored: its device box is unticked; it takes no part in the exit
// code. Unknown: a published state this program has no name for.
enum class ReportState { Normal, SingleDisk, Failure, Rebuilding, Scanning, NotAnswering, NotMonitored, Unknown };
// "Normal", "Single HDD Present", "Failure", "Rebuilding", "Scanning",
// "Not answering", "Not monitored".
const char* ReportStateText(ReportState state);

// The JSON document's "formatVersion": raised when a script reading the
// previous one could misread this one.
inline constexpr int kStatusFormatVersion = 2;

struct EnclosureReport {
    int slot = 1;  // 1-based, as the window's "Device1", "Device2"
    unsigned drive = 0;
    std::string model;
    std::string firmware;  // revision "." firmware code
    std::string mode;      // "Mirroring(RAID1)" ...
    ReportState kind = ReportState::Normal;
    // Its text; "Not answering" when its last status read failed.
    std::string state = ReportStateText(ReportState::Normal);
    int progress = -1;      // percent of a rebuild or scan, -1 when none runs
    int targetDisk = 0;     // 1 or 2 while one runs
    bool answering = true;
    bool monitored = true;  // its device box is ticked (or it dropped out for not answering)
    bool sensors = false;   // fan and temperature are reported by the enclosure
    unsigned fanRpm = 0;
    int temperature = 0;    // degrees Celsius
    bool fanFailure = false;
    bool overTemperature = false;
    std::array<DiskReport, 2> disks;
    // Mode, disks, progress and sensors come from a status record just
    // read; otherwise they are unknown and never reported.
    bool Known() const { return answering && monitored; }
};

struct StatusReport {
    std::vector<EnclosureReport> enclosures;
    std::string source = "devices";  // or "monitor": the running monitor's published state
    int64_t publishedAtMs = 0;       // wall clock of the state, ms since 1970
    long long monitorPid = 0;        // the publishing monitor
    std::string logDir;              // where that monitor writes its day logs
    int64_t monitorStartMs = 0;      // when that monitor started, ms since 1970
    // A monitor that has not yet polled: no enclosure is known so far.
    bool starting = false;
};

// 0 every monitored enclosure normal; 1 degraded, rebuilding or scanning;
// 2 failed array or disk, alarm, or an enclosure not answering; 3 nothing
// read (none found, none monitored, or the monitor is starting).
int StatusExitCode(const StatusReport& report);
// One enclosure's part of it; nullopt for one that is not monitored.
std::optional<int> EnclosureExitCode(const EnclosureReport& enclosure);

// One enclosure from the committed table; its firmware revision decides
// whether a scan is told from a rebuild.
EnclosureReport ReportEnclosure(const DriveTable& drives, unsigned slot, bool answering, bool monitored = true);
// Every committed enclosure; answering[slot] false marks a slot whose last
// status read failed (missing entries count as answering).
StatusReport ReportFromDrives(const DriveTable& drives, const std::vector<bool>& answering);

std::string StatusText(const StatusReport& report);
std::string StatusJson(const StatusReport& report);
// The text exposition format (docs/metrics.md).
std::string StatusPrometheus(const StatusReport& report);
// Reads what StatusJson wrote; nullopt and a reason for anything else.
std::optional<StatusReport> ParseStatusJson(const std::string& text, std::string& error);

}  // namespace kestrel
