#include "history/history_export.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <map>

namespace kestrel {

namespace {

constexpr int64_t kMsPerMinute = 60000;

std::string Tenths(int tenths) {
    char text[24];
    std::snprintf(text, sizeof text, "%d.%d", tenths / 10, std::abs(tenths % 10));
    return (tenths < 0 && tenths > -10) ? "-" + std::string(text) : text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + '"';
}

int64_t FloorMinute(int64_t ms) {
    if (ms == std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min() / kMsPerMinute;
    return ms >= 0 ? ms / kMsPerMinute : (ms - kMsPerMinute + 1) / kMsPerMinute;
}

int64_t CeilMinute(int64_t ms) {
    if (ms == std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max() / kMsPerMinute;
    if (ms == std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min() / kMsPerMinute;
    return -FloorMinute(-ms);
}

}  // namespace

std::string ExportTime(int64_t ms) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

std::string ExportHistory(HistoryStore& store, const HistoryQuery& query, HistoryFormat format) {
    // A reading belongs to the query when its span begins in it.
    const std::vector<ReadingRow> readings =
        store.Readings(0, CeilMinute(query.fromMs), CeilMinute(query.toMs), query.slot);
    const std::vector<EventRow> events = store.Events(0, query.fromMs, query.toMs, query.slot);
    const std::vector<StoredEnclosure> enclosures = store.Enclosures();
    std::map<int64_t, const StoredEnclosure*> byId;
    for (const StoredEnclosure& e : enclosures) byId[e.id] = &e;
    auto model = [&](int64_t id) { return byId.count(id) ? byId[id]->key.model : std::string(); };
    // The controller's serial, else the member disks' ("HDD1/HDD2").
    auto serials = [&](int64_t id) {
        if (!byId.count(id)) return std::string();
        const EnclosureKey& k = byId[id]->key;
        return k.serial.empty() ? k.serials[0] + "/" + k.serials[1] : k.serial;
    };

    std::string out;
    if (format == HistoryFormat::Csv) {
        out = "record,time,enclosure,model,serial,slot,span_minutes,polls,temp_min,temp_mean,temp_max,"
              "fan_min,fan_mean,fan_max,state,kind,text\n";
        for (const ReadingRow& r : readings) {
            out += "reading," + ExportTime(r.minute * kMsPerMinute) + "," + std::to_string(r.enclosureId) + "," +
                   CsvField(model(r.enclosureId)) + "," + CsvField(serials(r.enclosureId)) + "," +
                   std::to_string(r.slot + 1) + "," + std::to_string(r.span) + "," + std::to_string(r.polls) + ",";
            if (r.HasSensors())
                out += std::to_string(r.tempMin) + "," + Tenths(r.tempMeanTenths) + "," + std::to_string(r.tempMax) +
                       "," + std::to_string(r.fanMin) + "," + std::to_string(r.fanMean) + "," +
                       std::to_string(r.fanMax) + ",";
            else
                out += ",,,,,,";
            out += std::string(StateName(r.state)) + ",,\n";
        }
        for (const EventRow& e : events)
            out += "event," + ExportTime(e.timeMs) + "," + std::to_string(e.enclosureId) + "," +
                   CsvField(model(e.enclosureId)) + "," + CsvField(serials(e.enclosureId)) + "," +
                   std::to_string(e.slot + 1) + ",,,,,,,,,," + CsvField(e.kind) + "," + CsvField(e.text) + "\n";
        return out;
    }

    out = "{\"version\":1,\"enclosures\":[";
    bool firstEnclosure = true;
    for (const StoredEnclosure& e : enclosures) {
        const auto ownReading = [&](const ReadingRow& r) { return r.enclosureId == e.id; };
        const auto ownEvent = [&](const EventRow& x) { return x.enclosureId == e.id; };
        if (std::none_of(readings.begin(), readings.end(), ownReading) &&
            std::none_of(events.begin(), events.end(), ownEvent))
            continue;
        if (!firstEnclosure) out += ",";
        firstEnclosure = false;
        out += "\n{\"id\":" + std::to_string(e.id) + ",\"model\":" + JsonString(e.key.model) + ",\"serial\":" + JsonString(e.key.serial) + ",\"disk_serials\":[" +
               JsonString(e.key.serials[0]) + "," + JsonString(e.key.serials[1]) +
               "],\"firmware\":" + JsonString(e.key.firmware) + ",\"first_seen\":" + JsonString(ExportTime(e.firstMs)) +
               ",\"last_seen\":" + JsonString(ExportTime(e.lastMs)) + ",\"readings\":[";
        bool first = true;
        for (const ReadingRow& r : readings) {
            if (!ownReading(r)) continue;
            out += first ? "\n" : ",\n";
            first = false;
            out += "{\"time\":" + JsonString(ExportTime(r.minute * kMsPerMinute)) +
                   ",\"span_minutes\":" + std::to_string(r.span) + ",\"slot\":" + std::to_string(r.slot + 1) +
                   ",\"polls\":" + std::to_string(r.polls) + ",\"temperature\":";
            if (r.HasSensors())
                out += "{\"min\":" + std::to_string(r.tempMin) + ",\"mean\":" + Tenths(r.tempMeanTenths) +
                       ",\"max\":" + std::to_string(r.tempMax) + "},\"fan\":{\"min\":" + std::to_string(r.fanMin) +
                       ",\"mean\":" + std::to_string(r.fanMean) + ",\"max\":" + std::to_string(r.fanMax) + "}";
            else
                out += "null,\"fan\":null";
            out += ",\"state\":" + JsonString(StateName(r.state)) + "}";
        }
        out += "],\"events\":[";
        first = true;
        for (const EventRow& x : events) {
            if (!ownEvent(x)) continue;
            out += first ? "\n" : ",\n";
            first = false;
            out += "{\"time\":" + JsonString(ExportTime(x.timeMs)) + ",\"slot\":" + std::to_string(x.slot + 1) +
                   ",\"kind\":" + JsonString(x.kind) + ",\"text\":" + JsonString(x.text) + "}";
        }
        out += "]}";
    }
    out += "\n]}\n";
    return out;
}

}  // namespace kestrel
