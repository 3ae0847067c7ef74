#pragma once
// What the History window draws, computed without widgets: the range shown,
// the readings brought down to what a chart can show, the bands of state
// behind them, the event marks and the text of the reading under the
// pointer.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/history_rows.h"
#include "history/history_store.h"

namespace kestrel {

enum class HistoryRange { Hour, Day, Week, Month, Year };
inline constexpr HistoryRange kHistoryRanges[] = {HistoryRange::Hour, HistoryRange::Day, HistoryRange::Week,
                                                   HistoryRange::Month, HistoryRange::Year};
const char* RangeName(HistoryRange range);  // "Hour" ...
int64_t RangeMs(HistoryRange range);

// One drawn point: the readings of a bucket of time together.
struct ChartPoint {
    int64_t ms = 0;          // the bucket's start
    int64_t spanMs = 0;
    bool sensors = false;
    double tempMean = 0, fanMean = 0;
    int tempMin = 0, tempMax = 0, fanMin = 0, fanMax = 0;
    int state = 0;           // the worst
    int polls = 0;
};

struct StateBand {
    int64_t fromMs = 0, toMs = 0;
    int state = 0;           // not normal
};

struct EventMark {
    int64_t ms = 0;
    std::string kind;
    std::string text;
};

struct ChartData {
    int64_t fromMs = 0, toMs = 0;
    std::vector<ChartPoint> points;
    std::vector<StateBand> bands;
    std::vector<EventMark> events;  // progress lines left out: they are the rebuild's own
    int tempLow = 0, tempHigh = 0;  // the axes' ranges, with room
    int fanLow = 0, fanHigh = 0;
};

// Readings in [fromMs, toMs), at most maxPoints buckets.
ChartData BuildChart(const std::vector<ReadingRow>& readings, const std::vector<EventRow>& events, int64_t fromMs,
                     int64_t toMs, size_t maxPoints);

// The point nearest ms; none when there are none.
std::optional<size_t> NearestPoint(const ChartData& data, int64_t ms);
// "2026-12-09 14:31  41.3 °C (40–43)  2150 rpm  normal", and the events
// within the point's span.
std::string ReadingText(const ChartData& data, size_t point);

// "DESK BOX KS10012601" for a list of enclosures.
std::string EnclosureLabel(const StoredEnclosure& enclosure);

}  // namespace kestrel
