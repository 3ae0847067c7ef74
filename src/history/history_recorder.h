#pragma once
// Gathers each poll's readings into one row a minute per enclosure and the
// day-log events into rows, and hands them to the writer once a minute. Runs
// on the poll's (user-interface) thread and does nothing slow: no file, no
// lock held longer than a queue push. Also watches the minute means for the
// user's own warning temperature.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "history/history_rows.h"
#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

namespace kestrel {

// The enclosure in a slot as the history names it.
EnclosureKey KeyOf(const Block512& identify, const EnclosureStatus& status);

struct TemperatureWarningPorts {
    // A minute's mean passed the warning temperature (once per episode).
    std::function<void(int slot, double mean, unsigned limit)> started;
    // The first minute afterwards whose mean is at or below it again.
    std::function<void(int slot, double mean, unsigned limit)> ended;
};

class HistoryRecorder {
public:
    using Submit = std::function<void(HistoryBatch)>;
    explicit HistoryRecorder(Submit submit) : submit_(std::move(submit)) {}

    // 0: no warning of the user's own.
    void SetWarningTemperature(unsigned celsius) { warningCelsius_ = celsius; }
    unsigned WarningTemperature() const { return warningCelsius_; }
    void SetWarningPorts(TemperatureWarningPorts ports) { warning_ = std::move(ports); }

    // A poll read the enclosure in slot at timeMs.
    void Poll(int64_t timeMs, int slot, const EnclosureKey& key, const EnclosureStatus& status);
    // A day-log line about the enclosure in slot, from the pass that runs
    // just before this poll's Poll calls; lines that begin with blanks
    // continue the one before.
    void Line(int64_t timeMs, int slot, const std::string& line);
    // An event of the history's own (the enclosure went away, a warning).
    void Event(int64_t timeMs, int slot, std::string kind, std::string text);
    // Closes every open minute and hands everything over (at the close).
    void Flush();

    const HistoryBatch& Pending() const { return pending_; }

private:
    struct Open {
        EnclosureKey key;
        std::string keyText;
        int slot = 0;
        int64_t minute = -1;
        int polls = 0, sensorPolls = 0;
        int tempMin = 0, tempMax = 0, fanMin = 0, fanMax = 0;
        int64_t tempSum = 0, fanSum = 0;
        int state = 0;
        bool warned = false;  // inside a warning episode
        int64_t lastMs = 0;
    };
    Open& OpenFor(const EnclosureKey& key);
    void CloseMinutes(int64_t before);
    void CloseOne(Open& open);
    void TakeLines(int slot, const Open& open);

    Submit submit_;
    unsigned warningCelsius_ = 0;
    TemperatureWarningPorts warning_;
    std::vector<Open> open_;
    std::array<int, 2> slotOpen_{-1, -1};  // index into open_ of each slot's last enclosure
    struct PendingLine {
        int64_t timeMs;
        std::string text;
    };
    std::array<std::vector<PendingLine>, 2> lines_;  // this pass's lines, awaiting their poll
    int64_t minute_ = -1;  // the minute the polls are in
    HistoryBatch pending_;
};

}  // namespace kestrel
