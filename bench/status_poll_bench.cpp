// One status poll over the two demo enclosures of the simulated PC: the
// transport, the status reads on both access paths, the decoding and the
// event log pass, without threads or timers.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/shell.h"
#include "device/detection.h"
#include "device/transport.h"
#include "eventlog/event_log.h"
#include "monitor/status_poll.h"
#include "monitor/status_reader.h"
#include "platform/device_io_choice.h"
#include "platform/headless_ui.h"

namespace kestrel {
namespace {

class NoAlerts final : public AlertSink {
public:
    void ComposeAlert(int, int, int) override {}
};

void OnePoll(benchmark::State& state) {
    QTemporaryDir dir;
    DeviceIoChoice devices = ChooseDeviceIo(true, "");
    StderrMessageBoxes boxes;
    MemoryStatusBar bar;
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    Transport transport(*devices.io, boxes, bar, options);
    StatusReader reader(transport);
    DriveTable drives;
    DriveDetection detection(drives, transport, *devices.io, reader);
    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    detection.Redetect(true);
    detection.CommitDetection(true, nullptr);
    Shell shell(ProductVariant::Raid, drives);
    shell.Model().deviceChecked = {true, true};
    NoAlerts alerts;
    EventLogConfig config;
    config.logDir = dir.path().toStdString();
    config.baseTitle = "RAID GUI V0.23.6";
    config.firstStatusPending = [&] { return shell.Model().firstStatusPending; };
    EventLog log(drives, alerts, bar, config);
    SchedulerFlags flags;
    StatusPoll poll(flags, drives, shell, bar,
                    StatusPollLinks{
                        .readStatus = [&](Block512& b) { return reader.ReadStatus(drives, {false, false}, b); },
                        .lastProgress = [&](int slot) { return log.LastProgress(static_cast<unsigned>(slot)); },
                        .logStatusChanges = [&](uint8_t mask) { log.LogStatusChanges(mask); },
                        .drawStatusPage = nullptr,
                    });
    poll.Run();  // the start-up header is written once, outside the loop
    shell.Model().firstStatusPending = false;
    for (auto _ : state) poll.Run();
}
BENCHMARK(OnePoll)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
