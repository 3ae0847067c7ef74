// A whole firmware upgrade (erase, program and verify of the 512 KiB flash)
// on each access path against the simulated enclosure, its flash timing
// off: the CPU the program spends on the upgrade, the simulated
// controller's work included.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "device/status_reader.h"
#include "maintenance/firmware_upgrade.h"
#include "platform/headless_ui.h"
#include "sim/simulated_pc.h"

namespace kestrel {
namespace {

constexpr const char* kPaths = R"({
  "enclosures": [
    {"name": "m", "paths": ["mailbox"]}, {"name": "a", "paths": ["ata"]},
    {"name": "b", "paths": ["bridge"], "bridgeShifts": [1]}
  ],
  "drives": [{"number": 0, "enclosure": "m"}, {"number": 1, "enclosure": "a"}, {"number": 2, "enclosure": "b"}]
})";

class NoWindow final : public WindowState {
public:
    ShellModel& Model() override { return model; }
    const ShellModel& Model() const override { return model; }
    void Sync() override {}
    void SetDeviceChecked(int, bool) override {}
    ShellModel model;
};

class QuietBoxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string&, const std::string&, MessageButtons) override { return MessageAnswer::Ok; }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        const MessageAnswer answer = Show(text, caption, buttons);
        if (answered) answered(answer);
        return true;
    }
};

void WholeUpgrade(benchmark::State& state, uint32_t flags) {
    sim::SimulatedPc pc(*sim::ParseScenario(kPaths, "bench", ".").scenario);
    QuietBoxes boxes;
    MemoryStatusBar bar;
    Transport transport(pc, boxes, bar);
    StatusReader reader(transport);
    DriveTable drives;
    drives.EnclosureFlags[0] = flags;
    drives.EnclosureCount = 1;
    SchedulerFlags schedulerFlags;
    NoWindow window;
    MaintenanceLock lock(schedulerFlags, drives, window);
    // The window's events between blocks, as the program runs them.
    FlashAccess flash(transport, drives, schedulerFlags, [] { QCoreApplication::processEvents(); });
    FirmwareImage image;
    image.bytes = sim::MakeDefaultFlashImage();
    for (uint32_t i = 0x100; i < 0x70000; i += 3) image.bytes[i] = static_cast<uint8_t>(i >> 5);
    FirmwareUpgrade upgrade(flash, lock, reader, drives, schedulerFlags, window, {boxes, bar, nullptr});
    for (auto _ : state) {
        if (upgrade.Upgrade(0, image) != UpgradeOutcome::Verified) state.SkipWithError("the upgrade failed");
    }
    // The requests of one upgrade, counted outside the timed loop.
    pc.ClearRequests();
    (void)upgrade.Upgrade(0, image);  // the outcome was checked above; only its requests count here
    state.counters["requests"] = static_cast<double>(pc.Requests().size());
}
BENCHMARK_CAPTURE(WholeUpgrade, ScsiMailbox, 0x40)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(WholeUpgrade, AtaPassThrough, 0x11)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(WholeUpgrade, BridgeCdb, 0xA2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
