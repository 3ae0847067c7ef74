// Cost of the event log pass after each status poll: a pass with nothing to
// log (the common case), and a pass that logs one progress line and so
// replaces the day's file, for a small and a large day.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "eventlog/event_log.h"
#include "platform/headless_ui.h"
#include "support/status_builder.h"

namespace {

using namespace kestrel;

struct NoAlerts final : AlertSink {
    void ComposeAlert(int, int, int) override {}
};

struct Bench {
    explicit Bench(int earlierLines) {
        drives.EnclosureCount = 1;
        drives.EnclosureFlags[0] = 0x40;
        drives.CurrentStatus[0] = testing::Record().diskState(0x22);
        EventLogConfig config;
        config.logDir = dir.path().toStdString();
        config.baseTitle = "RAID GUI V0.23.6";
        config.clock = [] { return QDateTime(QDate(2011, 2, 25), QTime(12, 0)); };
        log = std::make_unique<EventLog>(drives, alerts, bar, config);
        for (int i = 0; i < earlierLines; ++i) log->QueueDeviceLine("D1 New Device was found.");
        log->LogStatusChanges(SlotStatuses(drives, 0x01));
    }
    QTemporaryDir dir;
    DriveTable drives;
    NoAlerts alerts;
    MemoryStatusBar bar;
    std::unique_ptr<EventLog> log;
};

void BM_PassWithoutChange(benchmark::State& state) {
    Bench b(static_cast<int>(state.range(0)));
    for (auto _ : state) b.log->LogStatusChanges(SlotStatuses(b.drives, 0x01));
}
BENCHMARK(BM_PassWithoutChange)->Arg(1000)->Arg(20000);

void BM_PassLoggingProgress(benchmark::State& state) {
    Bench b(static_cast<int>(state.range(0)));
    uint8_t percent = 0;
    for (auto _ : state) {
        b.drives.CurrentStatus[0] = testing::Record().diskState(0x22).activity(0x01).progress(percent++ % 99);
        b.log->LogStatusChanges(SlotStatuses(b.drives, 0x01));
    }
    state.counters["lines"] = static_cast<double>(b.log->LineCount());
}
BENCHMARK(BM_PassLoggingProgress)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
