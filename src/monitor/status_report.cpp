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

constexpr std::array<ReportState, 6> kReportStates = {ReportState::Normal,     ReportState::SingleDisk,
                                                      ReportState::Failure,    ReportState::Rebuilding,
                                                      ReportState::Scanning,   ReportState::NotAnswering};
constexpr std::array<DiskCondition, 5> kConditions = {DiskCondition::Empty, DiskCondition::Absent,
                                                      DiskCondition::Present, DiskCondition::Failed,
                                                      DiskCondition::Inserted};

int EnclosureCode(const EnclosureReport& e) {
    if (!e.answering) return 2;
    const bool diskFailed = std::any_of(e.disks.begin(), e.disks.end(),
                                        [](const DiskReport& d) { return d.condition == DiskCondition::Failed; });
    if (diskFailed || e.kind == ReportState::Failure || (e.sensors && (e.fanFailure || e.overTemperature))) return 2;
    return e.kind == ReportState::Normal ? 0 : 1;
}

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
        case ReportState::Unknown: break;
    }
    return "Unknown";
}

int StatusExitCode(const StatusReport& report) {
    if (report.enclosures.empty()) return 3;
    int code = 0;
    for (const EnclosureReport& e : report.enclosures) code = std::max(code, EnclosureCode(e));
    return code;
}

EnclosureReport ReportEnclosure(const DriveTable& drives, unsigned slot, bool answering) {
    EnclosureReport e;
    const EnclosureStatus s = SlotStatus(drives, slot);
    e.slot = static_cast<int>(slot) + 1;
    e.drive = drives.DriveOfSlot(slot);
    e.model = Trimmed(DeviceText(st::IdentifyModel(drives.IdentifyOfSlot(slot))));
    e.firmware = DeviceText(SlotRevision(drives, slot)) + "." + s.firmwareCode;
    e.mode = s.modeName;
    e.answering = answering;
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

    if (!answering) {
        e.kind = ReportState::NotAnswering;
    } else if (s.Running()) {
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
    for (const EnclosureReport& e : report.enclosures) {
        std::string state = e.state;
        if (e.progress >= 0) state += " HDD" + std::to_string(e.targetDisk) + " " + std::to_string(e.progress) + "%";
        std::snprintf(line, sizeof line, "Device%d: %s, firmware %s, %s: %s\n", e.slot, e.model.c_str(),
                      e.firmware.c_str(), e.mode.c_str(), state.c_str());
        out += line;
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
        QJsonArray disks;
        for (const DiskReport& d : e.disks)
            disks.append(QJsonObject{{"state", Q(d.state)},
                                     {"model", Q(d.model)},
                                     {"serial", Q(d.serial)},
                                     {"sectors", static_cast<double>(d.sectors)},
                                     {"capacityGB", static_cast<double>(st::Gigabytes(d.sectors))},
                                     {"linkSpeed", Q(d.linkSpeed)}});
        QJsonObject o{{"slot", e.slot},
                      {"drive", static_cast<int>(e.drive)},
                      {"model", Q(e.model)},
                      {"firmware", Q(e.firmware)},
                      {"mode", Q(e.mode)},
                      {"state", Q(e.state)},
                      {"code", EnclosureCode(e)},
                      {"answering", e.answering},
                      {"disks", disks}};
        o["progress"] = e.progress >= 0 ? QJsonValue(e.progress) : QJsonValue();
        o["targetDisk"] = e.progress >= 0 ? QJsonValue(e.targetDisk) : QJsonValue();
        if (e.sensors)
            o["sensors"] = QJsonObject{{"fanRpm", static_cast<int>(e.fanRpm)},
                                       {"temperature", e.temperature},
                                       {"fanFailure", e.fanFailure},
                                       {"overTemperature", e.overTemperature}};
        else
            o["sensors"] = QJsonValue();
        enclosures.append(o);
    }
    QJsonObject root{{"code", StatusExitCode(report)},
                     {"source", Q(report.source)},
                     {"time", static_cast<double>(report.publishedAtMs) / 1000.0},
                     {"enclosures", enclosures}};
    if (report.source == "monitor") {
        root["monitorPid"] = static_cast<double>(report.monitorPid);
        root["logDir"] = Q(report.logDir);
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
    StatusReport r;
    r.source = S(root["source"]);
    r.publishedAtMs = static_cast<int64_t>(root["time"].toDouble() * 1000.0);
    r.monitorPid = static_cast<long long>(root["monitorPid"].toDouble());
    r.logDir = S(root["logDir"]);
    for (const QJsonValue& v : root["enclosures"].toArray()) {
        const QJsonObject o = v.toObject();
        const QJsonArray disks = o["disks"].toArray();
        if (disks.size() != 2 || !o["slot"].isDouble() || !o["state"].isString()) {
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
        e.answering = o["answering"].toBool(true);
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
        for (int d = 0; d < 2; ++d) {
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

struct Metric {
    const char* name;
    const char* help;
};

}  // namespace

std::string StatusPrometheus(const StatusReport& report) {
    std::string out;
    auto family = [&out](const Metric& m) {
        out += std::string("# HELP ") + m.name + " " + m.help + "\n# TYPE " + m.name + " gauge\n";
    };
    auto sample = [&out](const char* name, const std::string& labels, double value) {
        char number[64];
        std::snprintf(number, sizeof number, "%.15g", value);
        out += std::string(name) + "{" + labels + "} " + number + "\n";
    };
    auto enclosureLabels = [](const EnclosureReport& e) {
        return "slot=\"" + std::to_string(e.slot) + "\",model=\"" + LabelValue(e.model) + "\"";
    };

    family({"kestrel_status_code", "Worst state of all enclosures: 0 normal, 1 degraded or busy, 2 failed or alarm, 3 nothing read."});
    out += "kestrel_status_code " + std::to_string(StatusExitCode(report)) + "\n";
    family({"kestrel_enclosure_state", "State of the enclosure: 0 normal, 1 degraded, rebuilding or scanning, 2 failed, alarm or not answering."});
    for (const EnclosureReport& e : report.enclosures) sample("kestrel_enclosure_state", enclosureLabels(e), EnclosureCode(e));
    family({"kestrel_enclosure_up", "1 when the enclosure answered its last status read."});
    for (const EnclosureReport& e : report.enclosures) sample("kestrel_enclosure_up", enclosureLabels(e), e.answering);
    family({"kestrel_disk_state", "Member disk: 0 present, 1 inserted, 2 absent or empty, 3 failed."});
    for (const EnclosureReport& e : report.enclosures)
        for (size_t d = 0; d < e.disks.size(); ++d) {
            const DiskCondition c = e.disks[d].condition;
            const int v = c == DiskCondition::Present ? 0 : c == DiskCondition::Inserted ? 1 : c == DiskCondition::Failed ? 3 : 2;
            sample("kestrel_disk_state", enclosureLabels(e) + ",disk=\"" + std::to_string(d + 1) + "\"", v);
        }
    family({"kestrel_progress_percent", "Percent done of a running rebuild or media scan; absent when none runs."});
    for (const EnclosureReport& e : report.enclosures)
        if (e.progress >= 0)
            sample("kestrel_progress_percent",
                   enclosureLabels(e) + ",operation=\"" + (e.kind == ReportState::Scanning ? "scan" : "rebuild") + "\"",
                   e.progress);
    family({"kestrel_temperature_celsius", "Enclosure temperature."});
    for (const EnclosureReport& e : report.enclosures)
        if (e.sensors) sample("kestrel_temperature_celsius", enclosureLabels(e), e.temperature);
    family({"kestrel_fan_rpm", "Enclosure fan speed."});
    for (const EnclosureReport& e : report.enclosures)
        if (e.sensors) sample("kestrel_fan_rpm", enclosureLabels(e), e.fanRpm);
    family({"kestrel_fan_failure", "1 while the enclosure reports a fan failure."});
    for (const EnclosureReport& e : report.enclosures)
        if (e.sensors) sample("kestrel_fan_failure", enclosureLabels(e), e.fanFailure);
    family({"kestrel_over_temperature", "1 while the enclosure reports over temperature."});
    for (const EnclosureReport& e : report.enclosures)
        if (e.sensors) sample("kestrel_over_temperature", enclosureLabels(e), e.overTemperature);
    return out;
}

}  // namespace kestrel
