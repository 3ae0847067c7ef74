// The built-in demo end to end at the device level: detection finds both
// enclosures, and the timeline takes a disk out, puts a new one in and
// rebuilds it to completion as the status is polled.
#include <gtest/gtest.h>

#include "device/detection.h"
#include "device/device_labels.h"
#include "wire/status_sector.h"
#include "sim/simulated_pc.h"
#include "support/recording_ui.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

namespace st = kestrel::status;

TEST(DemoScenarioTest, TwoEnclosuresAndARebuildToTheEnd) {
    const sim::ScenarioLoad load = sim::BuiltInScenario();
    ASSERT_TRUE(load.scenario) << load.error;
    sim::SimulatedPc pc(*load.scenario);
    testing::RecordingMessageBoxes boxes;
    MemoryStatusBar bar;
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    Transport transport(pc, boxes, bar, options);
    StatusReader reader(transport);
    DriveTable drives;
    DriveDetection detection(drives, transport, pc, reader);

    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    ASSERT_EQ(detection.Redetect(true), 2u);
    detection.CommitDetection(true, {});
    EXPECT_EQ(drives.EnclosureFlags[0], 0x51u);
    EXPECT_EQ(drives.EnclosureFlags[1], 0xA2u);
    LabelInputs in;
    in.baseTitle = "RAID GUI V0.23.6";
    in.deviceChecked = {true, true};
    const LabelResult labels = BuildDeviceLabels(drives, in);
    EXPECT_EQ(labels.hints[0], "KESTREL DUAL RAID [E]");
    EXPECT_EQ(labels.hints[1], "KESTREL USB RAID [F]");
    EXPECT_TRUE(boxes.shown.empty());

    // Poll slot 0 as the scheduler would while the timeline runs.
    std::vector<uint8_t> states;
    std::vector<int> progress;
    Block512 status{};
    for (int ms = 0; ms <= 120000; ms += 4000) {
        pc.AdvanceTo(std::chrono::milliseconds(ms));
        drives.SelectedEnclosure = 0;
        ASSERT_TRUE(reader.ReadStatus(drives, {}, status));
        if (states.empty() || states.back() != status[testing::at::kDiskState]) states.push_back(status[testing::at::kDiskState]);
        if (status[testing::at::kActivityFlags] & st::kTargetHdd2) progress.push_back(status[testing::at::kProgress]);
    }
    EXPECT_EQ(states, (std::vector<uint8_t>{0x22, 0x42, 0x12, 0x22}));
    EXPECT_EQ(progress, (std::vector<int>{0, 12, 24, 36, 48, 60, 72, 84, 96, 99}));
    EXPECT_EQ(st::TrimModel(st::AtaString(status, testing::at::kDisk2Model, 40)), "WDC WD10EZEX-22MFCA0");

    drives.SelectedEnclosure = 1;
    ASSERT_TRUE(reader.ReadStatus(drives, {}, status));
    EXPECT_EQ(st::TrimModel(st::AtaString(status, testing::at::kDisk1Model, 40)), "ST2000DM001-1CH164");
    EXPECT_EQ(st::FanRpm(status), 1800u);
    EXPECT_TRUE(pc.TimelineDone());
}

// The Hybrid demo exchanges the SSD of "duo" for one the controller does not
// know: HDD1 fails with neither the matched nor the small-SSD bit, which is
// what makes the Hybrid program ask to restore it.
TEST(DemoScenarioTest, HybridDemoReachesTheSsdPrompt) {
    const sim::ScenarioLoad load = sim::BuiltInScenario(ProductVariant::Hybrid);
    ASSERT_TRUE(load.scenario) << load.error;
    sim::SimulatedPc pc(*load.scenario);
    const Block512 start = *pc.StatusOf("duo");
    EXPECT_EQ(start[testing::at::kDiskState], 0x22);
    EXPECT_NE(start[testing::at::kOptionFlags] & st::kScheduledBackup, 0);
    pc.AdvanceTo(std::chrono::milliseconds(30000));
    EXPECT_TRUE(pc.TimelineDone());
    const Block512 asking = *pc.StatusOf("duo");
    EXPECT_EQ(asking[testing::at::kDiskState], 0x28);
    EXPECT_EQ(asking[testing::at::kActivityFlags] & (st::kMatchedReplacement | st::kMediaScan), 0);
    EXPECT_EQ(st::TrimModel(st::AtaString(asking, testing::at::kDisk1Model, 40)), "CRUCIAL CT250MX500SSD1");
    EXPECT_EQ(pc.StatusOf("mobile")->at(testing::at::kDiskState), 0x22);
}

}  // namespace
}  // namespace kestrel
