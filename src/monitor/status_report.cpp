#include "monitor/status_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <cstdio>

#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace st = status;

namespace {

constexpr std::array<ReportState, 7> kReportStates = {
    ReportState::Normal,   ReportState::SingleDisk,   ReportState::Failure,      ReportState::Rebuilding,
    ReportState::Scanning, ReportState::NotAnswering, ReportState::NotMonitored};
constexpr std::array<DiskCondition, 5> kConditions = {DiskCondition::Empty, DiskCondition::Absent,
                                                      DiskCondition::Present, DiskCondition::Failed,
                                                      DiskCondition::Inserted};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QJsonValue& v) { return v.toString().toStdString(); }

}  // namespace

const char* ReportStateText(ReportState state) {
    switch (state) {
        case ReportState::Normal: return "Normal";
        case ReportState::SingleDisk: return "Single HDD Present";
        case ReportState::Failure: return "Failure";
        case ReportState::Rebuilding: return "Rebuilding";
        case ReportState::Scanning: return "Scanning";
        case ReportState::NotAnswering: return "Not answering";
        case ReportState::NotMonitored: return "Not monitored";
        case ReportState::Unknown: break;
    }
    return "Unknown";
}

std::optional<int> EnclosureExitCode(const EnclosureReport& e) {
    if (!e.monitored) return std::nullopt;
    if (!e.answering) return 2;
    const bool diskFailed = std::any_of(e.disks.begin(), e.disks.end(),
                                        [](const DiskReport& d) { return d.condition == DiskCondition::Failed; });
    if (diskFailed || e.kind == ReportState::Failure || (e.sensors && (e.fanFailure || e.overTemperature))) return 2;
    return e.kind == ReportState::Normal ? 0 : 1;
}

int StatusExitCode(const StatusReport& report) {
    std::optional<int> code;
    for (const EnclosureReport& e : report.enclosures)
        if (const std::optional<int> c = EnclosureExitCode(e)) code = std::max(code.value_or(0), *c);
    return code.value_or(3);
}

EnclosureReport ReportEnclosure(const DriveTable& drives, unsigned slot, bool answering, bool monitored) {
    EnclosureReport e;
    const EnclosureStatus s = SlotStatus(drives, slot);
    e.slot = static_cast<int>(slot) + 1;
    e.drive = drives.DriveOfSlot(slot);
    e.model = Trimmed(DeviceText(st::IdentifyModel(drives.IdentifyOfSlot(slot))));
    e.firmware = DeviceText(SlotRevision(drives, slot)) + "." + s.firmwareCode;
    e.mode = s.modeName;
    e.answering = answering && monitored;
    e.monitored = monitored;
    // The table still holds an earlier record, or none (all zero: it would
    // read as RAID0 with two empty bays); neither is this enclosure's state now.
    if (!e.Known()) {
        e.kind = monitored ? ReportState::NotAnswering : ReportState::NotMonitored;
        e.state = ReportStateText(e.kind);
        e.mode.clear();
        // The firmware code is in the status record; the revision is the
        // identification's.
        e.firmware = DeviceText(SlotRevision(drives, slot));
        return e;
    }
    e.sensors = s.sensors.has_value();
    e.fanRpm = s.fanRpm;
    e.temperature = static_cast<int>(s.temperature);
    e.fanFailure = s.sensors && s.sensors->fanFailure;
    e.overTemperature = s.sensors && s.sensors->overTemperature;

    for (size_t d = 0; d < e.disks.size(); ++d) {
        DiskReport& disk = e.disks[d];
        const MemberStatus& m = s.disks[d];
        disk.condition = m.condition;
        disk.state = ConditionName(m.condition);
        disk.model = Trimmed(DeviceText(m.model));
        disk.serial = Trimmed(DeviceText(m.serial));
        disk.sectors = m.sectors;
        disk.linkSpeed = st::SataSpeedLabel(m.speedCode);
    }

    if (s.Running()) {
        e.kind = s.activity == Activity::Scan ? ReportState::Scanning : ReportState::Rebuilding;
        e.progress = std::min<int>(s.progress, 100);
        e.targetDisk = s.target + 1;
    } else {
        e.kind = s.array == ArrayState::Normal       ? ReportState::Normal
                 : s.array == ArrayState::SingleDisk ? ReportState::SingleDisk
                                                     : ReportState::Failure;
    }
    e.state = ReportStateText(e.kind);
    return e;
}

StatusReport ReportFromDrives(const DriveTable& drives, const std::vector<bool>& answering) {
    StatusReport r;
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot)
        r.enclosures.push_back(ReportEnclosure(drives, slot, slot >= answering.size() || answering[slot]));
    return r;
}

std::string StatusText(const StatusReport& report) {
    std::string out;
    char line[512];
    if (report.starting) {
        std::snprintf(line, sizeof line, "The monitor (process %lld) is starting: no enclosure has been read yet.\n",
                      report.monitorPid);
        return line;
    }
    for (const EnclosureReport& e : report.enclosures) {
        std::string state = e.state;
        if (e.progress >= 0) state += " HDD" + std::to_string(e.targetDisk) + " " + std::to_string(e.progress) + "%";
        std::snprintf(line, sizeof line, "Device%d: %s, firmware %s, %s: %s\n", e.slot, e.model.c_str(),
                      e.firmware.c_str(), e.Known() ? e.mode.c_str() : "mode unknown", state.c_str());
        out += line;
        if (!e.Known()) {
            out += "  HDD1, HDD2, fan and temperature: unknown\n";
            continue;
        }
        for (size_t d = 0; d < e.disks.size(); ++d) {
            const DiskReport& k = e.disks[d];
            if (k.state == "empty" || (k.state == "absent" && k.model.empty())) {
                std::snprintf(line, sizeof line, "  HDD%zu: %s\n", d + 1, k.state.c_str());
            } else {
                std::snprintf(line, sizeof line, "  HDD%zu: %s, %s, serial %s, %llu GB, link %s\n", d + 1,
                              k.state.c_str(), k.model.c_str(), k.serial.c_str(),
                              static_cast<unsigned long long>(st::Gigabytes(k.sectors)),
                              k.linkSpeed.empty() ? "-" : k.linkSpeed.c_str());
            }
            out += line;
        }
        if (e.sensors) {
            std::snprintf(line, sizeof line, "  Fan: %u RPM%s, temperature: %d C%s\n", e.fanRpm,
                          e.fanFailure ? " (Fan failure)" : "", e.temperature,
                          e.overTemperature ? " (Over temperature)" : "");
        } else {
            std::snprintf(line, sizeof line, "  Fan and temperature: not reported\n");
        }
        out += line;
    }
    return out;
}

std::string StatusJson(const StatusReport& report) {
    QJsonArray enclosures;
    for (const EnclosureReport& e : report.enclosures) {
        const std::optional<int> code = EnclosureExitCode(e);
        QJsonObject o{{"slot", e.slot},
                      {"drive", static_cast<int>(e.drive)},
                      {"model", Q(e.model)},
                      {"firmware", Q(e.firmware)},
                      {"state", Q(e.state)},
                      {"code", code ? QJsonValue(*code) : QJsonValue()},
                      {"answering", e.answering},
                      {"monitored", e.monitored}};
        // What only a status record just read tells is null otherwise.
        const bool known = e.Known();
        o["mode"] = known ? QJsonValue(Q(e.mode)) : QJsonValue();
        o["progress"] = known && e.progress >= 0 ? QJsonValue(e.progress) : QJsonValue();
        o["targetDisk"] = known && e.progress >= 0 ? QJsonValue(e.targetDisk) : QJsonValue();
        if (known && e.sensors)
            o["sensors"] = QJsonObject{{"fanRpm", static_cast<int>(e.fanRpm)},
                                       {"temperature", e.temperature},
                                       {"fanFailure", e.fanFailure},
                                       {"overTemperature", e.overTemperature}};
        else
            o["sensors"] = QJsonValue();
        if (known) {
            QJsonArray disks;
            for (const DiskReport& d : e.disks)
                disks.append(QJsonObject{{"state", Q(d.state)},
                                         {"model", Q(d.model)},
                                         {"serial", Q(d.serial)},
                                         {"sectors", static_cast<double>(d.sectors)},
                                         {"bytes", static_cast<double>(d.sectors * 512)},
                                         {"capacityGB", static_cast<double>(st::Gigabytes(d.sectors))},
                                         {"linkSpeed", Q(d.linkSpeed)}});
            o["disks"] = disks;
        } else {
            o["disks"] = QJsonValue();
        }
        enclosures.append(o);
    }
    QJsonObject root{{"formatVersion", kStatusFormatVersion},
                     {"code", StatusExitCode(report)},
                     {"state", Q(report.starting ? "starting" : "ready")},
                     {"source", Q(report.source)},
                     {"time", static_cast<double>(report.publishedAtMs) / 1000.0},
                     {"enclosures", enclosures}};
    if (report.source == "monitor") {
        root["monitorPid"] = static_cast<double>(report.monitorPid);
        root["logDir"] = Q(report.logDir);
        root["monitorStartTime"] = static_cast<double>(report.monitorStartMs) / 1000.0;
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

std::optional<StatusReport> ParseStatusJson(const std::string& text, std::string& error) {
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parseError);
    if (!doc.isObject()) {
        error = parseError.error != QJsonParseError::NoError ? parseError.errorString().toStdString() : "not an object";
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (!root["enclosures"].isArray() || !root["time"].isDouble()) {
        error = "no enclosures or time";
        return std::nullopt;
    }
    // Version 1 (no formatVersion) reads as well: a monitor started before
    // an upgrade of the package publishes it until it is restarted.
    if (root["formatVersion"].toInt(1) > kStatusFormatVersion) {
        error = "format version " + std::to_string(root["formatVersion"].toInt()) + " is newer than this program's";
        return std::nullopt;
    }
    StatusReport r;
    r.source = S(root["source"]);
    r.starting = root["state"].toString() == "starting";
    r.publishedAtMs = static_cast<int64_t>(root["time"].toDouble() * 1000.0);
    r.monitorPid = static_cast<long long>(root["monitorPid"].toDouble());
    r.logDir = S(root["logDir"]);
    r.monitorStartMs = static_cast<int64_t>(root["monitorStartTime"].toDouble() * 1000.0);
    for (const QJsonValue& v : root["enclosures"].toArray()) {
        const QJsonObject o = v.toObject();
        const QJsonArray disks = o["disks"].toArray();
        if ((disks.size() != 2 && !o["disks"].isNull()) || !o["slot"].isDouble() || !o["state"].isString()) {
            error = "an enclosure without slot, state or two disks";
            return std::nullopt;
        }
        EnclosureReport e;
        e.slot = o["slot"].toInt();
        e.drive = static_cast<unsigned>(o["drive"].toInt());
        e.model = S(o["model"]);
        e.firmware = S(o["firmware"]);
        e.mode = S(o["mode"]);
        e.state = S(o["state"]);
        // The published text names the state.
        e.kind = ReportState::Unknown;
        for (ReportState k : kReportStates)
            if (e.state == ReportStateText(k)) e.kind = k;
        e.monitored = o["monitored"].toBool(true);
        e.answering = o["answering"].toBool(true) && e.monitored && !o["disks"].isNull();
        e.progress = o["progress"].isDouble() ? o["progress"].toInt() : -1;
        e.targetDisk = o["targetDisk"].toInt();
        if (o["sensors"].isObject()) {
            const QJsonObject s = o["sensors"].toObject();
            e.sensors = true;
            e.fanRpm = static_cast<unsigned>(s["fanRpm"].toInt());
            e.temperature = s["temperature"].toInt();
            e.fanFailure = s["fanFailure"].toBool();
            e.overTemperature = s["overTemperature"].toBool();
        }
        for (qsizetype d = 0; d < disks.size(); ++d) {
            const QJsonObject k = disks[d].toObject();
            DiskReport& disk = e.disks[static_cast<size_t>(d)];
            disk.state = S(k["state"]);
            disk.condition = DiskCondition::Empty;
            for (DiskCondition c : kConditions)
                if (disk.state == ConditionName(c)) disk.condition = c;
            disk.model = S(k["model"]);
            disk.serial = S(k["serial"]);
            disk.sectors = static_cast<uint64_t>(k["sectors"].toDouble());
            disk.linkSpeed = S(k["linkSpeed"]);
        }
        r.enclosures.push_back(std::move(e));
    }
    return r;
}

namespace {

// A label value in the exposition format: backslash, quote and line feed
// escaped.
std::string LabelValue(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string Number(double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.15g", value);
    return number;
}

// Names of the states in the metrics: one series per state.
struct StateName {
    ReportState state;
    const char* name;
};
constexpr std::array<StateName, 7> kStateNames = {{{ReportState::Normal, "normal"},
                                                   {ReportState::SingleDisk, "degraded"},
                                                   {ReportState::Failure, "failed"},
                                                   {ReportState::Rebuilding, "rebuilding"},
                                                   {ReportState::Scanning, "scanning"},
                                                   {ReportState::NotAnswering, "not_answering"},
                                                   {ReportState::NotMonitored, "not_monitored"}}};

}  // namespace

std::string StatusPrometheus(const StatusReport& report) {
    std::string out;
    auto family = [&out](const char* name, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    };
    auto sample = [&out](const char* name, const std::string& labels, double value) {
        out += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + Number(value) + "\n";
    };
    auto slotLabel = [](const EnclosureReport& e) { return "slot=\"" + std::to_string(e.slot) + "\""; };
    auto diskLabels = [&slotLabel](const EnclosureReport& e, size_t d) {
        return slotLabel(e) + ",disk=\"HDD" + std::to_string(d + 1) + "\"";
    };
    std::vector<const EnclosureReport*> known;
    for (const EnclosureReport& e : report.enclosures)
        if (e.Known()) known.push_back(&e);

    family("kestrel_status_code",
           "Exit code of --status: 0 normal, 1 degraded or busy, 2 failed, alarm or not answering, 3 nothing read.");
    sample("kestrel_status_code", "", StatusExitCode(report));
    if (report.source == "monitor") {
        family("kestrel_monitor_start_time_seconds", "When the monitor started, in seconds since 1970.");
        sample("kestrel_monitor_start_time_seconds", "", static_cast<double>(report.monitorStartMs) / 1000.0);
        family("kestrel_monitor_starting", "1 while the monitor has not yet read any enclosure.");
        sample("kestrel_monitor_starting", "", report.starting);
    }
    if (!report.starting) {
        family("kestrel_last_poll_timestamp_seconds", "When the enclosures were last read, in seconds since 1970.");
        sample("kestrel_last_poll_timestamp_seconds", "", static_cast<double>(report.publishedAtMs) / 1000.0);
    }
    family("kestrel_enclosure_info", "An enclosure: its model, firmware and RAID mode (empty while unknown).");
    for (const EnclosureReport& e : report.enclosures)
        sample("kestrel_enclosure_info",
               slotLabel(e) + ",model=\"" + LabelValue(e.model) + "\",firmware=\"" + LabelValue(e.firmware) +
                   "\",raid_mode=\"" + LabelValue(e.Known() ? e.mode : "") + "\"",
               1);
    family("kestrel_enclosure_state", "1 for the enclosure's state, 0 for the others.");
    for (const EnclosureReport& e : report.enclosures)
        for (const StateName& s : kStateNames)
            sample("kestrel_enclosure_state", slotLabel(e) + ",state=\"" + s.name + "\"", e.kind == s.state);
    family("kestrel_enclosure_up", "1 when the enclosure answered its last status read.");
    for (const EnclosureReport& e : report.enclosures) sample("kestrel_enclosure_up", slotLabel(e), e.answering);
    family("kestrel_enclosure_monitored", "1 when the enclosure is monitored (its device box is ticked).");
    for (const EnclosureReport& e : report.enclosures) sample("kestrel_enclosure_monitored", slotLabel(e), e.monitored);

    // Only what the last status read told: none of it for an enclosure
    // that did not answer or is not monitored.
    family("kestrel_disk_info", "A member disk: its model, serial and capacity in bytes.");
    for (const EnclosureReport* e : known)
        for (size_t d = 0; d < e->disks.size(); ++d) {
            const DiskReport& k = e->disks[d];
            if (k.model.empty() && k.serial.empty() && k.sectors == 0) continue;
            sample("kestrel_disk_info",
                   diskLabels(*e, d) + ",model=\"" + LabelValue(k.model) + "\",serial=\"" + LabelValue(k.serial) +
                       "\",capacity_bytes=\"" + std::to_string(k.sectors * 512) + "\"",
                   1);
        }
    family("kestrel_disk_capacity_bytes", "Capacity of a member disk.");
    for (const EnclosureReport* e : known)
        for (size_t d = 0; d < e->disks.size(); ++d)
            if (e->disks[d].sectors)
                sample("kestrel_disk_capacity_bytes", diskLabels(*e, d), static_cast<double>(e->disks[d].sectors * 512));
    family("kestrel_disk_state", "1 for the member disk's state, 0 for the others.");
    for (const EnclosureReport* e : known)
        for (size_t d = 0; d < e->disks.size(); ++d)
            for (DiskCondition c : kConditions)
                sample("kestrel_disk_state", diskLabels(*e, d) + ",state=\"" + ConditionName(c) + "\"",
                       e->disks[d].condition == c);
    family("kestrel_progress_ratio", "Part done (0 to 1) of a running rebuild or media scan; absent when none runs.");
    for (const EnclosureReport* e : known)
        if (e->progress >= 0)
            sample("kestrel_progress_ratio",
                   slotLabel(*e) + ",disk=\"HDD" + std::to_string(e->targetDisk) + "\",operation=\"" +
                       (e->kind == ReportState::Scanning ? "scan" : "rebuild") + "\"",
                   e->progress / 100.0);
    family("kestrel_temperature_celsius", "Enclosure temperature.");
    for (const EnclosureReport* e : known)
        if (e->sensors) sample("kestrel_temperature_celsius", slotLabel(*e), e->temperature);
    family("kestrel_fan_rpm", "Enclosure fan speed in revolutions per minute.");
    for (const EnclosureReport* e : known)
        if (e->sensors) sample("kestrel_fan_rpm", slotLabel(*e), e->fanRpm);
    family("kestrel_fan_failure", "1 while the enclosure reports a fan failure.");
    for (const EnclosureReport* e : known)
        if (e->sensors) sample("kestrel_fan_failure", slotLabel(*e), e->fanFailure);
    family("kestrel_over_temperature", "1 while the enclosure reports over temperature.");
    for (const EnclosureReport* e : known)
        if (e->sensors) sample("kestrel_over_temperature", slotLabel(*e), e->overTemperature);
    return out;
}

}  // namespace kestrel
