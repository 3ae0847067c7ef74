// The history beside the poll: the cost per poll with the store on and off,
// a simulated year of polls (the simulator's clock: 4 s a poll, not wall
// time) written to the store and the file's size after it, and the History
// window opened on that year, offscreen, to its first drawn chart.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "gui/history_window.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"
#include "poll_rig.h"

namespace kestrel {
namespace {

constexpr int64_t kPollMs = 4000;

// The demo's two enclosures as they read, with a daily and a yearly swing
// of temperature and fan, a degraded week and a rebuild in the year.
EnclosureStatus Reading(int64_t ms, int slot) {
    EnclosureStatus s;
    s.array = ArrayState::Normal;
    s.environmentShown = true;
    const double day = static_cast<double>(ms % 86'400'000) / 86'400'000;
    const double year = static_cast<double>(ms % 31'536'000'000) / 31'536'000'000;
    s.temperature = static_cast<unsigned>(38 + slot * 3 + 4 * (day > 0.4 && day < 0.8) + 6 * (year > 0.45 && year < 0.7) +
                                          static_cast<int>(ms / kPollMs % 3));
    // The fan slows as it wears: 2400 rpm down to 2100 over the year.
    s.fanRpm = static_cast<unsigned>(2400 - 300 * year + 10 * static_cast<int>(ms / kPollMs % 5));
    if (slot == 0 && year > 0.30 && year < 0.32) s.array = ArrayState::SingleDisk;
    if (slot == 0 && year >= 0.32 && year < 0.325) s.activity = Activity::Rebuild;
    return s;
}

EnclosureKey Key(int slot) {
    return EnclosureKey{.model = slot == 0 ? "KESTREL DUAL RAID" : "KESTREL USB RAID",
                        .serial = slot == 0 ? "KS10012601" : "KS09102003",
                        .serials = {"WD-WCC3F1234567", "WD-WCC3F7654321"},
                        .firmware = "100126.1.R1A"};
}

// The poll alone, and the poll with the history's listener as the main
// module wires it (the recorder, and the writer on its thread).
void PollWithoutHistory(benchmark::State& state) {
    bench::PollRig rig;
    for (auto _ : state) rig.poll.Run();
}
BENCHMARK(PollWithoutHistory)->Unit(benchmark::kMicrosecond);

void PollWithHistory(benchmark::State& state) {
    bench::PollRig rig;
    QTemporaryDir dir;
    HistoryWriter writer(HistoryFilePath(dir.path().toStdString()), nullptr);
    HistoryRecorder recorder([&](HistoryBatch b) { writer.Submit(std::move(b)); });
    int64_t now = QDateTime::currentMSecsSinceEpoch();
    rig.poll.AddListener([&](const PollRound& round) {
        now += kPollMs;
        for (unsigned slot = 0; slot < 2; ++slot)
            if (const auto& r = round.records[slot])
                recorder.Poll(now, static_cast<int>(slot), KeyOf(rig.drives.IdentifyOfSlot(slot), *r), *r);
    });
    for (auto _ : state) rig.poll.Run();
    writer.WaitUntilWritten();
}
BENCHMARK(PollWithHistory)->Unit(benchmark::kMicrosecond);

// What the history adds to one poll of two enclosures on the poll's
// thread: the key, the minute's sums and, every 15th poll, the hand-over.
void HistoryCostPerPoll(benchmark::State& state) {
    bench::PollRig rig;
    QTemporaryDir dir;
    HistoryWriter writer(HistoryFilePath(dir.path().toStdString()), nullptr);
    HistoryRecorder recorder([&](HistoryBatch b) { writer.Submit(std::move(b)); });
    const std::array<EnclosureStatus, 2> records = {SlotStatus(rig.drives, 0), SlotStatus(rig.drives, 1)};
    int64_t now = QDateTime::currentMSecsSinceEpoch();
    for (auto _ : state) {
        now += kPollMs;
        for (unsigned slot = 0; slot < 2; ++slot)
            recorder.Poll(now, static_cast<int>(slot), KeyOf(rig.drives.IdentifyOfSlot(slot), records[slot]),
                          records[slot]);
    }
    writer.WaitUntilWritten();  // after the timed loop
}
BENCHMARK(HistoryCostPerPoll)->Unit(benchmark::kMicrosecond);

struct Year {
    QTemporaryDir dir;
    std::string path = HistoryFilePath(dir.path().toStdString());
    double seconds = 0;
    uint64_t polls = 0;
};

Year& YearOfHistory() {
    static Year year = [] {
        Year y;
        QElapsedTimer t;
        t.start();
        {
            HistoryWriter writer(y.path, [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
            HistoryRecorder recorder([&](HistoryBatch b) { writer.Submit(std::move(b)); });
            const int64_t end = QDateTime::currentMSecsSinceEpoch() / 60000 * 60000;
            const int64_t start = end - 365LL * 86'400'000;
            const std::array<EnclosureKey, 2> keys = {Key(0), Key(1)};
            for (int64_t ms = start; ms < end; ms += kPollMs) {
                for (int slot = 0; slot < 2; ++slot) recorder.Poll(ms, slot, keys[slot], Reading(ms - start, slot));
                ++y.polls;
                // Once a simulated day the queue is let drain, so that it
                // holds no more than a day of batches.
                if ((ms - start) % 86'400'000 == 0) writer.WaitUntilWritten();
            }
            recorder.Flush();
        }
        y.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        return y;
    }();
    return year;
}

void AYearOfPollsWritten(benchmark::State& state) {
    for (auto _ : state) YearOfHistory();
    const Year& y = YearOfHistory();
    HistoryStore store;
    if (!store.Open(y.path, HistoryStore::Mode::Read)) return state.SkipWithError(store.Error().c_str());
    const double mb = static_cast<double>(QFileInfo(QString::fromStdString(y.path)).size()) / 1e6;
    state.counters["polls"] = static_cast<double>(y.polls);
    state.counters["seconds"] = y.seconds;
    state.counters["file_MB_per_enclosure"] = mb / 2;
    state.counters["rows"] = static_cast<double>(store.Readings(0, 0, INT64_MAX / 60000).size());
}
BENCHMARK(AYearOfPollsWritten)->Iterations(1)->Unit(benchmark::kSecond);

void HistoryWindowOnAYear(benchmark::State& state) {
    const Year& y = YearOfHistory();
    const EnclosureKey shown = Key(0);
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        HistoryWindow window(y.path, shown, nullptr);
        window.ShowRange(HistoryRange::Year);
        bool drawn = false;
        window.SetFirstDrawn([&] { drawn = true; });
        window.show();
        while (!drawn) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
        if (window.Data().points.empty()) state.SkipWithError("no readings drawn");
    }
}
BENCHMARK(HistoryWindowOnAYear)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
