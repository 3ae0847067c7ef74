// Enumeration and identification against simulated PCs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/detection.h"
#include "device/device_labels.h"
#include "wire/status_sector.h"
#include "sim/simulated_pc.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

using sim::RequestKind;

TransportOptions NoPause() {
    TransportOptions o;
    o.pause = [](std::chrono::milliseconds) {};
    return o;
}

// A panel that remembers every text it was given.
class HistoryStatusBar final : public StatusBar {
public:
    void SetPanel(int index, const std::string& text) override {
        std::lock_guard lock(mutex_);
        history.push_back({index, text});
    }
    std::string Panel(int index) const override {
        std::lock_guard lock(mutex_);
        for (auto it = history.rbegin(); it != history.rend(); ++it)
            if (it->first == index) return it->second;
        return {};
    }
    std::vector<std::pair<int, std::string>> history;

private:
    mutable std::mutex mutex_;
};

struct Rig {
    explicit Rig(const std::string& json)
        : pc(testing::ScenarioFrom(json)), transport(pc, boxes, bar, NoPause()), reader(transport),
          detection(drives, transport, pc, reader) {}
    unsigned Detect() {
        drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
        drives.PhysicalDriveCount = detection.CountPhysicalDrives();
        return detection.Redetect(true);
    }
    sim::SimulatedPc pc;
    testing::RecordingMessageBoxes boxes;
    HistoryStatusBar bar;
    Transport transport;
    StatusReader reader;
    DriveTable drives;
    DriveDetection detection;
};

TEST(DetectionTest, EveryAccessPathGivesItsFlags) {
    Rig rig(testing::kEveryPath);
    EXPECT_EQ(rig.Detect(), 6u);
    const DriveTable& t = rig.drives;
    EXPECT_EQ(t.PhysicalDriveCount, 7);
    const std::vector<uint32_t> flags(t.ProbeFlags.begin(), t.ProbeFlags.begin() + t.ProbeCount);
    // Mailbox; ATA; bridge with shift 1; bridge with shift 0 only; fixed-command
    // bridge; mailbox and ATA together (the mailbox route wins at use).
    EXPECT_EQ(flags, (std::vector<uint32_t>{0x40, 0x11, 0xA2, 0x23, 0xA4, 0x55}));
    EXPECT_EQ(t.ResponderCount, 6u);
    EXPECT_EQ(t.MemberCount[0], 0);

    // Every enclosure's slot holds its controller's block; the status came
    // over its own path.
    for (unsigned slot = 0; slot < t.ProbeCount; ++slot) {
        const unsigned drive = access::DriveOf(t.ProbeFlags[slot]);
        // The fixed-only bridge gives no block of its own: its slot keeps
        // the block-58 data, not what earlier drives left in the buffer.
        EXPECT_EQ(status::HasControllerSignature(t.ProbeIdentify[drive]), drive != 4) << drive;
    }
    EXPECT_EQ(status::IdentifyModel(t.ProbeIdentify[1]).substr(0, 7), "ATA BOX");
    EXPECT_EQ(t.ProbeStatus[2], *rig.pc.StatusOf("b"));
    EXPECT_EQ(t.ProbeStatus[1], *rig.pc.StatusOf("a"));
}

TEST(DetectionTest, ShiftZeroBridgeEndsAtModeFour) {
    Rig rig(R"({"enclosures": [{"name": "x", "paths": ["bridge"], "bridgeShifts": [0]}],
               "drives": [{"number": 0}, {"number": 3, "enclosure": "x"}]})");
    ASSERT_EQ(rig.Detect(), 1u);
    EXPECT_EQ(rig.drives.ProbeFlags[0], 0x23u);
    EXPECT_EQ(rig.bar.Panel(kStagePanel), "Mode 4");
}

TEST(DetectionTest, BlockFiftyEightFailureShowsItsCodeAndProbingGoesOn) {
    Rig rig(R"({"enclosures": [{"name": "x", "paths": ["mailbox", "ata"]}], "drives": [{"number": 0, "enclosure": "x"}]})");
    rig.pc.RunStep(testing::FailStep(RequestKind::Identify, "x", 1));
    ASSERT_EQ(rig.Detect(), 1u);
    EXPECT_EQ(rig.drives.ProbeFlags[0], 0x10u) << "found by IDENTIFY DEVICE after the failed read";
    const auto& h = rig.bar.history;
    EXPECT_NE(std::find(h.begin(), h.end(), std::pair<int, std::string>{kErrorPanel, "Error code 580"}), h.end());
}

TEST(DetectionTest, SameEnclosureOnTwoDrivesIsOneSlotWithAMember) {
    Rig rig(R"({"enclosures": [{"name": "x"}, {"name": "y"}],
               "drives": [{"number": 1, "enclosure": "x"}, {"number": 4, "enclosure": "y"},
                          {"number": 6, "enclosure": "x"}]})");
    ASSERT_EQ(rig.Detect(), 2u);
    const DriveTable& t = rig.drives;
    EXPECT_EQ(t.ProbeFlags[0], 0x51u);
    EXPECT_EQ(t.ProbeFlags[1], 0x54u);
    EXPECT_EQ(t.MemberCount[0], 1);
    EXPECT_EQ(t.MemberDrive[0][0], 6);
    EXPECT_EQ(t.MemberCount[1], 0);
    EXPECT_EQ(t.ResponderCount, 3u);
}

TEST(DetectionTest, UnopenableDrivesAreSkippedAndTheCountEndsTheLoop) {
    Rig rig(R"({"enclosures": [{"name": "x"}, {"name": "gone", "plugged": false}],
               "drives": [{"number": 0}, {"number": 2, "enclosure": "gone"}, {"number": 5, "enclosure": "x"},
                          {"number": 9, "enclosure": "x"}]})");
    rig.pc.RunStep(testing::FailStep(RequestKind::Open, "x", 1));
    rig.drives.LogicalDriveCount = rig.detection.EnumerateLogicalDrives();
    EXPECT_EQ(rig.detection.CountPhysicalDrives(), 2) << "drive 5 failed to open once, 2 is unplugged";
    rig.drives.PhysicalDriveCount = 2;
    rig.pc.ClearRequests();
    EXPECT_EQ(rig.detection.IdentifyEnclosures(true), 1u);
    EXPECT_EQ(rig.drives.ProbeFlags[0], 0x55u);
    // Drives 0 and 5 opened, so drive 9 was never tried.
    for (const sim::RequestRecord& r : rig.pc.Requests()) EXPECT_NE(r.drive, 9);
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(DetectionTest, VolumeTableAndTheTwentyVolumeLimit) {
    Rig rig(R"({"enclosures": [{"name": "x"}],
               "drives": [{"number": 0}, {"number": 1, "enclosure": "x"}],
               "volumes": [{"letter": "C", "disk": 0, "offset": 32256, "length": 5000},
                           {"letter": "D", "type": "cdrom"},
                           {"letter": "F", "type": "removable", "disk": 1, "offset": 1048576, "length": 99}]})");
    rig.drives.LogicalDriveCount = rig.detection.EnumerateLogicalDrives();
    ASSERT_EQ(rig.drives.LogicalDriveCount, 3);
    rig.detection.BuildVolumeTable();
    const auto& v = rig.drives.ProbeVolumeTable;
    EXPECT_EQ(rig.drives.ProbeVolumeCount, 3);
    EXPECT_EQ(v[0].letter, 'C');
    EXPECT_EQ(v[0].driveType, 3);
    EXPECT_EQ(v[0].diskNumber, 0);
    EXPECT_EQ(v[0].startingOffset, 32256u);
    EXPECT_EQ(v[0].extentLength, 5000u);
    EXPECT_EQ(v[1].letter, 'D');
    EXPECT_EQ(v[1].driveType, 255) << "a volume that cannot be opened";
    EXPECT_EQ(v[2].driveType, 2);
    EXPECT_EQ(v[2].diskNumber, 1);

    std::string volumes;
    for (char c = 'C'; c <= 'Z'; ++c) volumes += std::string(c == 'C' ? "" : ",") + R"({"letter": ")" + c + R"(", "disk": 0})";
    Rig full(R"({"drives": [{"number": 0}], "volumes": [)" + volumes + "]}");
    full.drives.LogicalDriveCount = full.detection.EnumerateLogicalDrives();
    EXPECT_EQ(full.drives.LogicalDriveCount, 24);
    EXPECT_EQ(full.drives.LogicalLetters[23], 'Z');
    full.detection.BuildVolumeTable();
    EXPECT_EQ(full.drives.ProbeVolumeCount, 20);
    EXPECT_EQ(full.drives.ProbeVolumeTable[19].letter, 'V');
    ASSERT_EQ(full.boxes.shown.size(), 1u);
    EXPECT_EQ(full.boxes.shown[0].text, "Drive Count Must less than 20.");
    EXPECT_EQ(full.boxes.shown[0].caption, "");
}

TEST(DetectionTest, CommitPublishesTheProbeResult) {
    Rig rig(testing::kEveryPath);
    rig.Detect();
    rig.drives.SelectedEnclosure = 7;
    int reports = 0;
    rig.detection.CommitDetection(true, [&] { ++reports; });
    EXPECT_EQ(reports, 0) << "nothing is reported for the first detection";
    EXPECT_EQ(rig.drives.EnclosureCount, 6u);
    EXPECT_EQ(rig.drives.EnclosureFlags, rig.drives.ProbeFlags);
    EXPECT_EQ(rig.drives.KnownIdentify, rig.drives.ProbeIdentify);
    EXPECT_EQ(rig.drives.SelectedEnclosure, 5u);

    rig.pc.RunStep([] {
        sim::Step s;
        s.action = sim::Action::Unplug;
        s.enclosure = "m";
        return s;
    }());
    rig.drives.PhysicalDriveCount = rig.detection.CountPhysicalDrives();
    rig.detection.Redetect(false);
    rig.detection.CommitDetection(false, [&] {
        ++reports;
        EXPECT_EQ(rig.drives.EnclosureCount, 6u) << "the old list is still in place";
    });
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(rig.drives.EnclosureCount, 5u);
    EXPECT_EQ(rig.drives.EnclosureFlags[0], 0x11u);
}

TEST(DetectionTest, LockedEnclosureIsKeptWithoutProbing) {
    Rig rig(testing::kEveryPath);
    rig.Detect();
    rig.detection.CommitDetection(true, {});
    rig.drives.CurrentStatus[2] = *rig.pc.StatusOf("b");
    rig.drives.LockedEnclosure = 2;  // drive 2
    rig.pc.ClearRequests();
    EXPECT_EQ(rig.detection.IdentifyEnclosures(false), 6u);
    EXPECT_EQ(rig.drives.ProbeFlags[2], 0xA2u);
    EXPECT_EQ(rig.drives.ProbeIdentify[2], rig.drives.KnownIdentify[2]);
    for (const sim::RequestRecord& r : rig.pc.Requests()) EXPECT_NE(r.drive, 2);
}

TEST(DeviceLabelsTest, FirmwareRevisionDecidesTheCapabilities) {
    struct Case {
        const char* revision;
        bool scan, environment;
    };
    for (const Case& c : {Case{"100126.1", true, true}, Case{"100125.0", true, false}, Case{"090619.", true, false},
                          Case{"090618.9", false, false}, Case{"1001260", false, false}, Case{"10a126.1", false, false},
                          Case{"100126", false, false}}) {
        const FirmwareCapabilities caps = CapabilitiesOf(c.revision);
        EXPECT_EQ(caps.scanReporting, c.scan) << c.revision;
        EXPECT_EQ(caps.environmentPanel, c.environment) << c.revision;
    }
}

TEST(DeviceLabelsTest, LabelsHintsAndCaption) {
    Rig rig(R"({"enclosures": [
                  {"name": "x", "identity": {"model": "DESK RAID", "firmwareRevision": "100126.1"}},
                  {"name": "y", "paths": ["bridge"], "identity": {"model": "TRAVEL RAID", "firmwareRevision": "090618.2"}}],
               "drives": [{"number": 0}, {"number": 1, "enclosure": "x"}, {"number": 2, "enclosure": "y"}],
               "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}, {"letter": "G", "disk": 1},
                           {"letter": "H", "type": "removable", "disk": 1}, {"letter": "F", "disk": 2}]})");
    rig.Detect();
    rig.detection.CommitDetection(true, {});
    LabelInputs in;
    in.baseTitle = "RAID GUI V0.23.6";
    in.deviceChecked = {true, true};
    LabelResult r = BuildDeviceLabels(rig.drives, in);
    ASSERT_TRUE(r.applied);
    // "DESK RAID" with its blanks trimmed; H: is removable and not listed.
    EXPECT_EQ(r.hints[0], "DESK RAID [EG]");
    EXPECT_EQ(r.hints[1], "TRAVEL RAID [F]");
    EXPECT_EQ(r.caption, "RAID GUI V0.23.6 - DESK RAID [EG]");
    // Each slot's capabilities are its own firmware's, whatever the labels did.
    EXPECT_EQ(SlotRevision(rig.drives, 0), "100126.1");
    EXPECT_TRUE(SlotCapabilities(rig.drives, 0).scanReporting);
    EXPECT_TRUE(SlotCapabilities(rig.drives, 0).environmentPanel);
    EXPECT_FALSE(SlotCapabilities(rig.drives, 1).scanReporting);
    EXPECT_FALSE(SlotCapabilities(rig.drives, 1).environmentPanel);

    in.currentPage = 2;
    in.upgradePageDevice = 1;
    rig.drives.SelectedEnclosure = 0;
    r = BuildDeviceLabels(rig.drives, in);
    EXPECT_EQ(r.caption, "RAID GUI V0.23.6 - TRAVEL RAID [F]");
    EXPECT_EQ(rig.drives.SelectedEnclosure, 0u) << "the labels move no selection";

    in.deviceChecked = {false, false};
    rig.drives.SelectedEnclosure = 0;
    r = BuildDeviceLabels(rig.drives, in);
    EXPECT_FALSE(r.applied);
    EXPECT_EQ(rig.drives.SelectedEnclosure, 0u);
}

TEST(DeviceLabelsTest, ADetectionInProgressChangesNoLabelUntilItsCommit) {
    Rig rig(R"({"enclosures": [{"name": "x", "identity": {"model": "DESK RAID"}},
                               {"name": "y", "paths": ["bridge"], "identity": {"model": "TRAVEL RAID"}}],
               "drives": [{"number": 0}, {"number": 1, "enclosure": "x"}, {"number": 2, "enclosure": "y"}],
               "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}, {"letter": "F", "disk": 2}]})");
    rig.Detect();
    rig.detection.CommitDetection(true, {});
    LabelInputs in;
    in.baseTitle = "RAID GUI V0.23.6";
    in.deviceChecked = {true, true};
    const LabelResult before = BuildDeviceLabels(rig.drives, in);
    ASSERT_EQ(before.hints[1], "TRAVEL RAID [F]");

    // The travel box leaves; the labels are built over and over (as slot
    // clicks do) while the detection thread looks again.
    sim::Step unplug;
    unplug.action = sim::Action::Unplug;
    unplug.enclosure = "y";
    rig.pc.RunStep(unplug);
    rig.drives.LogicalDriveCount = rig.detection.EnumerateLogicalDrives();
    rig.drives.PhysicalDriveCount = rig.detection.CountPhysicalDrives();
    std::atomic<bool> done{false};
    std::thread detection([&] {
        rig.detection.Redetect(false);
        done = true;
    });
    int builds = 0;
    while (!done.load() || builds == 0) {
        const LabelResult r = BuildDeviceLabels(rig.drives, in);
        EXPECT_EQ(r.hints, before.hints);
        ++builds;
    }
    detection.join();
    EXPECT_EQ(BuildDeviceLabels(rig.drives, in).hints, before.hints) << "found, not committed";
    rig.detection.CommitDetection(false, {});
    const LabelResult after = BuildDeviceLabels(rig.drives, in);
    EXPECT_EQ(after.hints[0], "DESK RAID [E]");
    EXPECT_EQ(after.hints[1], "");
}

}  // namespace
}  // namespace kestrel
