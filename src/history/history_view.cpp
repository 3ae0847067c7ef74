#include "history/history_view.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {
constexpr int64_t kMsPerMinute = 60000;
}

const char* RangeName(HistoryRange range) {
    switch (range) {
        case HistoryRange::Hour: return "Hour";
        case HistoryRange::Day: return "Day";
        case HistoryRange::Week: return "Week";
        case HistoryRange::Month: return "Month";
        case HistoryRange::Year: return "Year";
    }
    return "";
}

int64_t RangeMs(HistoryRange range) {
    constexpr int64_t hour = 60 * kMsPerMinute;
    switch (range) {
        case HistoryRange::Hour: return hour;
        case HistoryRange::Day: return 24 * hour;
        case HistoryRange::Week: return 7 * 24 * hour;
        case HistoryRange::Month: return 31 * 24 * hour;
        case HistoryRange::Year: return 365 * 24 * hour;
    }
    return hour;
}

ChartData BuildChart(const std::vector<ReadingRow>& readings, const std::vector<EventRow>& events, int64_t fromMs,
                     int64_t toMs, size_t maxPoints) {
    ChartData d;
    d.fromMs = fromMs;
    d.toMs = std::max(toMs, fromMs + 1);
    const int64_t bucket = std::max<int64_t>(kMsPerMinute, (d.toMs - d.fromMs) / static_cast<int64_t>(std::max<size_t>(maxPoints, 1)));
    struct Sum {
        double temp = 0, fan = 0;
        int weight = 0;
    } sum;
    auto close = [&] {
        if (d.points.empty()) return;
        ChartPoint& p = d.points.back();
        if (sum.weight > 0) {
            p.tempMean = sum.temp / sum.weight;
            p.fanMean = sum.fan / sum.weight;
        }
        sum = {};
    };
    for (const ReadingRow& r : readings) {
        const int64_t ms = r.minute * kMsPerMinute;
        if (ms < fromMs || ms >= d.toMs) continue;
        const int64_t start = fromMs + (ms - fromMs) / bucket * bucket;
        if (d.points.empty() || d.points.back().ms != start) {
            close();
            d.points.push_back(ChartPoint{.ms = start, .spanMs = 0, .sensors = false, .tempMean = 0, .fanMean = 0,
                                          .tempMin = 0, .tempMax = 0, .fanMin = 0, .fanMax = 0, .state = r.state,
                                          .polls = 0});
        }
        ChartPoint& p = d.points.back();
        p.spanMs = std::max(p.spanMs, ms + r.span * kMsPerMinute - start);
        p.state = std::max(p.state, r.state);
        p.polls += r.polls;
        if (r.HasSensors()) {
            if (!p.sensors) {
                p.tempMin = r.tempMin, p.tempMax = r.tempMax, p.fanMin = r.fanMin, p.fanMax = r.fanMax;
            } else {
                p.tempMin = std::min(p.tempMin, r.tempMin);
                p.tempMax = std::max(p.tempMax, r.tempMax);
                p.fanMin = std::min(p.fanMin, r.fanMin);
                p.fanMax = std::max(p.fanMax, r.fanMax);
            }
            p.sensors = true;
            sum.temp += r.TempMean() * r.sensorPolls;
            sum.fan += static_cast<double>(r.fanMean) * r.sensorPolls;
            sum.weight += r.sensorPolls;
        }
    }
    close();

    // Bands: runs of points in the same state other than normal; a gap of
    // no readings ends a run.
    for (const ChartPoint& p : d.points) {
        if (p.state == 0) continue;
        if (!d.bands.empty() && d.bands.back().state == p.state && d.bands.back().toMs >= p.ms)
            d.bands.back().toMs = p.ms + std::max(p.spanMs, bucket);
        else
            d.bands.push_back(StateBand{p.ms, p.ms + std::max(p.spanMs, bucket), p.state});
    }
    for (const EventRow& e : events)
        if (e.timeMs >= fromMs && e.timeMs < d.toMs && e.kind != "progress")
            d.events.push_back(EventMark{e.timeMs, e.kind, e.text});

    bool any = false;
    int tl = 0, th = 0, fl = 0, fh = 0;
    for (const ChartPoint& p : d.points) {
        if (!p.sensors) continue;
        if (!any) tl = p.tempMin, th = p.tempMax, fl = p.fanMin, fh = p.fanMax;
        tl = std::min(tl, p.tempMin), th = std::max(th, p.tempMax);
        fl = std::min(fl, p.fanMin), fh = std::max(fh, p.fanMax);
        any = true;
    }
    if (!any) tl = 20, th = 60, fl = 0, fh = 3000;
    d.tempLow = std::max(0, (tl - 5) / 5 * 5);
    d.tempHigh = (th + 9) / 5 * 5;
    d.fanLow = std::max(0, (fl - 250) / 500 * 500);
    d.fanHigh = (fh + 749) / 500 * 500;
    return d;
}

std::optional<size_t> NearestPoint(const ChartData& data, int64_t ms) {
    if (data.points.empty()) return std::nullopt;
    const auto after = std::lower_bound(data.points.begin(), data.points.end(), ms,
                                        [](const ChartPoint& p, int64_t t) { return p.ms < t; });
    size_t i = static_cast<size_t>(after - data.points.begin());
    if (i == data.points.size()) return i - 1;
    if (i > 0 && ms - data.points[i - 1].ms <= data.points[i].ms - ms) return i - 1;
    return i;
}

std::string ReadingText(const ChartData& data, size_t point) {
    if (point >= data.points.size()) return {};
    const ChartPoint& p = data.points[point];
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(p.ms);
    std::string text = at.toString(p.spanMs >= 24 * 60 * kMsPerMinute ? "yyyy-MM-dd" : "yyyy-MM-dd HH:mm").toStdString();
    char reading[160];
    if (p.sensors)
        std::snprintf(reading, sizeof reading, "   %.1f \u00b0C (%d\u2013%d)   %.0f rpm (%d\u2013%d)   %s", p.tempMean,
                      p.tempMin, p.tempMax, p.fanMean, p.fanMin, p.fanMax, StateName(p.state));
    else
        std::snprintf(reading, sizeof reading, "   no fan or temperature reading   %s", StateName(p.state));
    text += reading;
    for (const EventMark& e : data.events)
        if (e.ms >= p.ms && e.ms < p.ms + std::max<int64_t>(p.spanMs, kMsPerMinute)) text += "\n" + e.text;
    return text;
}

std::string EnclosureLabel(const StoredEnclosure& e) {
    const std::string serial = e.key.serial.empty() ? e.key.serials[0] + "/" + e.key.serials[1] : e.key.serial;
    return e.key.model + "  " + serial;
}

}  // namespace kestrel
