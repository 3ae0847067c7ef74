#include "history/history_recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "monitor/enclosure_health.h"
#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

constexpr int64_t kMsPerMinute = 60000;

int64_t MinuteOf(int64_t timeMs) { return timeMs >= 0 ? timeMs / kMsPerMinute : (timeMs - kMsPerMinute + 1) / kMsPerMinute; }

std::string Degrees(double celsius) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", celsius);
    return text;
}

}  // namespace

EnclosureKey KeyOf(const Block512& identify, const EnclosureStatus& status) {
    EnclosureKey key;
    key.model = Trimmed(DeviceText(status::IdentifyModel(identify)));
    key.serial = Trimmed(DeviceText(status::IdentifySerial(identify)));
    for (size_t disk = 0; disk < 2; ++disk) key.serials[disk] = Trimmed(DeviceText(status.disks[disk].serial));
    key.firmware = Trimmed(DeviceText(status::IdentifyRevision(identify))) + "." + DeviceText(status.firmwareCode);
    return key;
}

HistoryRecorder::Open& HistoryRecorder::OpenFor(const EnclosureKey& key) {
    const std::string text = key.Text();
    for (Open& open : open_)
        if (open.keyText == text) {
            open.key.firmware = key.firmware;
            return open;
        }
    open_.push_back(Open{.key = key, .keyText = text});
    return open_.back();
}

void HistoryRecorder::Poll(int64_t timeMs, int slot, const EnclosureKey& key, const EnclosureStatus& status) {
    if (slot < 0 || slot > 1) return;
    const int64_t minute = MinuteOf(timeMs);
    if (minute != minute_) {
        CloseMinutes(minute);
        minute_ = minute;
    }
    Open& open = OpenFor(key);
    slotOpen_[static_cast<size_t>(slot)] = static_cast<int>(&open - open_.data());
    TakeLines(slot, open);
    if (open.minute != minute) {
        if (open.minute >= 0 && open.polls > 0) CloseOne(open);
        open.minute = minute;
    }
    open.slot = slot;
    open.lastMs = timeMs;
    const int state = static_cast<int>(ReadHealth(status).state);
    if (open.polls == 0 || state > open.state) open.state = state;
    ++open.polls;
    if (status.environmentShown) {
        const int t = static_cast<int>(status.temperature);
        const int f = static_cast<int>(status.fanRpm);
        if (open.sensorPolls == 0) {
            open.tempMin = open.tempMax = t;
            open.fanMin = open.fanMax = f;
        } else {
            open.tempMin = std::min(open.tempMin, t);
            open.tempMax = std::max(open.tempMax, t);
            open.fanMin = std::min(open.fanMin, f);
            open.fanMax = std::max(open.fanMax, f);
        }
        open.tempSum += t;
        open.fanSum += f;
        ++open.sensorPolls;
    }
}

void HistoryRecorder::Line(int64_t timeMs, int slot, const std::string& line) {
    if (slot < 0 || slot > 1) return;
    std::vector<PendingLine>& lines = lines_[static_cast<size_t>(slot)];
    // The pass's timestamp is gone; so goes the comma before it.
    std::string text = Trimmed(line);
    if (!text.empty() && text.back() == ',') text = Trimmed(text.substr(0, text.size() - 1));
    if (text.empty()) return;
    if (!lines.empty() && line.rfind("  ", 0) == 0)
        lines.back().text += "; " + text;
    else
        lines.push_back(PendingLine{timeMs, text});
}

void HistoryRecorder::TakeLines(int slot, const Open& open) {
    std::vector<PendingLine>& lines = lines_[static_cast<size_t>(slot)];
    for (PendingLine& line : lines)
        pending_.events.push_back(EventRow{.enclosure = open.key, .slot = slot, .timeMs = line.timeMs,
                                           .kind = EventKindOf(line.text), .text = std::move(line.text)});
    lines.clear();
}

void HistoryRecorder::Event(int64_t timeMs, int slot, std::string kind, std::string text) {
    if (slot < 0 || slot > 1) return;
    const int index = slotOpen_[static_cast<size_t>(slot)];
    if (index < 0) return;  // nothing was ever read there: nobody to name
    pending_.events.push_back(EventRow{.enclosure = open_[static_cast<size_t>(index)].key, .slot = slot,
                                       .timeMs = timeMs, .kind = std::move(kind), .text = std::move(text)});
}

void HistoryRecorder::CloseOne(Open& open) {
    ReadingRow row;
    row.enclosure = open.key;
    row.slot = open.slot;
    row.minute = open.minute;
    row.polls = open.polls;
    row.sensorPolls = open.sensorPolls;
    row.state = open.state;
    double mean = 0;
    if (open.sensorPolls > 0) {
        row.tempMin = open.tempMin;
        row.tempMax = open.tempMax;
        mean = static_cast<double>(open.tempSum) / open.sensorPolls;
        row.tempMeanTenths = static_cast<int>(std::lround(mean * 10));
        row.fanMin = open.fanMin;
        row.fanMax = open.fanMax;
        row.fanMean = static_cast<int>(std::lround(static_cast<double>(open.fanSum) / open.sensorPolls));
    }
    pending_.readings.push_back(std::move(row));
    const bool hadSensors = open.sensorPolls > 0;
    open.polls = open.sensorPolls = 0;
    open.tempSum = open.fanSum = 0;

    // The user's warning: once when a minute's mean passes it, once when one
    // comes back to it.
    const unsigned limit = warningCelsius_;
    if (limit == 0) {
        open.warned = false;
    } else if (hadSensors) {
        const int64_t at = (open.minute + 1) * kMsPerMinute;
        if (!open.warned && mean > limit) {
            open.warned = true;
            pending_.events.push_back(EventRow{.enclosure = open.key, .slot = open.slot, .timeMs = at, .kind = "alarm",
                                               .text = "Temperature warning: " + Degrees(mean) +
                                                       " \u00b0C over a minute, above " + std::to_string(limit) + " \u00b0C"});
            if (warning_.started) warning_.started(open.slot, mean, limit);
        } else if (open.warned && mean <= limit) {
            open.warned = false;
            pending_.events.push_back(EventRow{.enclosure = open.key, .slot = open.slot, .timeMs = at, .kind = "alarm",
                                               .text = "Temperature warning ended: " + Degrees(mean) +
                                                       " \u00b0C over a minute, " +
                                                       std::to_string(limit) + " \u00b0C or below"});
            if (warning_.ended) warning_.ended(open.slot, mean, limit);
        }
    }
}

void HistoryRecorder::CloseMinutes(int64_t now) {
    for (Open& open : open_)
        if (open.polls > 0 && open.minute != now) CloseOne(open);
    if (pending_.readings.empty() && pending_.events.empty()) return;
    pending_.nowMinute = now;
    HistoryBatch batch = std::move(pending_);
    pending_ = {};
    if (submit_) submit_(std::move(batch));
}

void HistoryRecorder::Flush() {
    // Lines whose poll never came keep the last enclosure of their slot.
    for (int slot = 0; slot < 2; ++slot)
        if (slotOpen_[static_cast<size_t>(slot)] >= 0)
            TakeLines(slot, open_[static_cast<size_t>(slotOpen_[static_cast<size_t>(slot)])]);
    CloseMinutes(minute_ + 1);
}

}  // namespace kestrel
