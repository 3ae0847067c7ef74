// Telling an enclosure controller from a disk whose data looks like one,
// and keeping every write away from such a disk.
#include <gtest/gtest.h>

#include <random>

#include "device/detection.h"
#include "device/enclosure_proof.h"
#include "device/routes.h"
#include "device/status_reader.h"
#include "maintenance/controller_command.h"
#include "sim/simulated_pc.h"
#include "sim/status_fields.h"
#include "support/disk_image_io.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"
#include "wire/status_sector.h"

namespace kestrel {
namespace {

constexpr size_t kImageBlocks = 128;

std::vector<uint8_t> RandomImage(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(kImageBlocks * 512);
    for (uint8_t& b : image) b = static_cast<uint8_t>(random());
    return image;
}

// Block 58 of the image carries the controller signature at 258-259.
std::vector<uint8_t> LookAlike(unsigned seed) {
    std::vector<uint8_t> image = RandomImage(seed);
    image[58 * 512 + 258] = '3';
    image[58 * 512 + 259] = 'X';
    return image;
}

// A closer look-alike: printable model and revision text in block 58 too.
std::vector<uint8_t> TextLookAlike(unsigned seed) {
    std::vector<uint8_t> image = LookAlike(seed);
    const Block512 identify = sim::MakeIdentifyBlock(sim::IdentityConfig{}, true);
    std::copy(identify.begin(), identify.end(), image.begin() + 58 * 512);
    return image;
}

Block512 ControllerStatus() {
    sim::SimulatedPc pc(testing::ScenarioFrom(testing::kEveryPath));
    return *pc.StatusOf("m");
}

TEST(EnclosureProofTest, TheControllersOwnBlocksProveItAndDiskDataDoesNot) {
    const Block512 identify = sim::MakeIdentifyBlock(sim::IdentityConfig{}, true);
    EnclosureEvidence controller;
    controller.flags = 0x40;
    controller.mailboxIdentify = identify;
    controller.status = ControllerStatus();
    EXPECT_EQ(ProveEnclosure(controller).outcome, ProofOutcome::Proven);
    // A revision need not have the '.' form.
    Block512 plainRevision = sim::MakeIdentifyBlock({.model = "X", .firmwareRevision = "V1R2", .serial = ""}, true);
    EXPECT_TRUE(IdentifyBlockPlausible(plainRevision));

    struct Case {
        const char* what;
        std::function<void(EnclosureEvidence&)> change;
        ProofOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"random data with the signature", [](EnclosureEvidence& e) {
             const std::vector<uint8_t> image = LookAlike(1);
             std::copy_n(image.begin() + 58 * 512, 512, e.mailboxIdentify->begin());
         }, ProofOutcome::Disproven},
        {"a blank model", [](EnclosureEvidence& e) { std::fill_n(e.mailboxIdentify->begin() + 54, 40, ' '); },
         ProofOutcome::Disproven},
        {"a control character in the revision", [](EnclosureEvidence& e) { (*e.mailboxIdentify)[47] = 0x07; },
         ProofOutcome::Disproven},
        {"not an ATA device's identify data", [](EnclosureEvidence& e) { (*e.mailboxIdentify)[1] = 0x80; },
         ProofOutcome::Disproven},
        {"another record layout", [](EnclosureEvidence& e) { (*e.status)[1] = 0xA1; }, ProofOutcome::Disproven},
        {"no maker signature", [](EnclosureEvidence& e) { (*e.status)[120] = 'X'; }, ProofOutcome::Disproven},
        {"mailbox flags without the block", [](EnclosureEvidence& e) { e.mailboxIdentify.reset(); },
         ProofOutcome::Disproven},
        {"two paths naming different controllers", [](EnclosureEvidence& e) {
             e.flags |= access::kAtaPassThrough;
             e.ataIdentify = sim::MakeIdentifyBlock({.model = "OTHER", .firmwareRevision = "100126.1", .serial = ""}, true);
         }, ProofOutcome::Disproven},
        {"the status read failed", [](EnclosureEvidence& e) { e.status.reset(); }, ProofOutcome::StatusUnread},
    };
    for (const Case& c : cases) {
        EnclosureEvidence e = controller;
        c.change(e);
        const Proof proof = ProveEnclosure(e);
        EXPECT_EQ(proof.outcome, c.outcome) << c.what;
        EXPECT_FALSE(proof.reason.empty()) << c.what;
    }
    // A bridge that answered only the fixed command brings its status record.
    EnclosureEvidence bridgeOnly;
    bridgeOnly.flags = 0xA4;
    bridgeOnly.status = ControllerStatus();
    EXPECT_EQ(ProveEnclosure(bridgeOnly).outcome, ProofOutcome::Proven);
    bridgeOnly.status = Block512{};
    EXPECT_EQ(ProveEnclosure(bridgeOnly).outcome, ProofOutcome::Disproven);
}

class HistoryBar final : public StatusBar {
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
    int Count(const std::string& part) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(history.begin(), history.end(), [&](const auto& h) {
            return h.first == kErrorPanel && h.second.find(part) != std::string::npos;
        }));
    }
    std::vector<std::pair<int, std::string>> history;

private:
    mutable std::mutex mutex_;
};

TransportOptions NoPause() {
    TransportOptions o;
    o.pause = [](std::chrono::milliseconds) {};
    return o;
}

// The every-path PC with two look-alike disks, drives 7 and 8, and a plain
// disk, drive 9; every request is recorded.
struct LookAlikeRig {
    LookAlikeRig()
        : pc(testing::ScenarioFrom(testing::kEveryPath)), disks(pc), io(&disks),
          transport(io, boxes, bar, NoPause()), reader(transport), detection(drives, transport, io, reader) {
        disks.AddDisk(7, LookAlike(7));
        disks.AddDisk(8, TextLookAlike(8));
        disks.AddDisk(9, RandomImage(9));
        detection.SetNotice([this](const std::string& text) { notices.push_back(text); });
    }
    unsigned Detect() {
        drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
        drives.PhysicalDriveCount = detection.CountPhysicalDrives();
        detection.Redetect(true);
        detection.CommitDetection(true, {});
        return drives.EnclosureCount;
    }
    // Nothing the device layer sent wrote or was a vendor ATA command.
    void ExpectOnlyReads(const std::string& what) {
        for (const testing::IoCall& c : io.calls) {
            if (c.code == ioctl::kIdePassThrough) {
                EXPECT_EQ(c.block[passthrough::ide::kCommand], kAtaIdentifyDevice) << what;
            } else if (c.code == ioctl::kScsiPassThroughDirect) {
                const passthrough::ScsiRequest r = c.Scsi();
                EXPECT_TRUE(r.DataIn()) << what << ": CDB " << int{r.cdb[0]};
                EXPECT_NE(r.cdb[0], 0x2A) << what;
            }
        }
    }
    sim::SimulatedPc pc;
    testing::DiskImageIo disks;
    testing::RecordingDeviceIo io;
    testing::RecordingMessageBoxes boxes;
    HistoryBar bar;
    Transport transport;
    StatusReader reader;
    DriveTable drives;
    DriveDetection detection;
    std::vector<std::string> notices;
};

TEST(EnclosureProofTest, LookAlikesAreShownOnceNotListedAndNeverWritten) {
    LookAlikeRig rig;
    const std::vector<uint8_t> before7 = rig.disks.Image(7), before8 = rig.disks.Image(8);
    EXPECT_EQ(rig.Detect(), 6u) << "the six enclosures, no look-alike";
    for (unsigned slot = 0; slot < rig.drives.EnclosureCount; ++slot)
        EXPECT_LT(rig.drives.DriveOfSlot(slot), 6u);
    for (unsigned drive : {0u, 1u, 2u, 3u, 4u, 5u}) EXPECT_TRUE(rig.transport.Admitted(drive)) << drive;
    for (unsigned drive : {6u, 7u, 8u, 9u}) EXPECT_FALSE(rig.transport.Admitted(drive)) << drive;
    rig.ExpectOnlyReads("detection");
    ASSERT_EQ(rig.notices.size(), 2u);
    EXPECT_NE(rig.notices[0].find("Physical drive 7 is not a supported enclosure"), std::string::npos) << rig.notices[0];
    EXPECT_NE(rig.notices[1].find("Physical drive 8 is not a supported enclosure (the status record"), std::string::npos)
        << rig.notices[1];
    // Said once: a second detection is quiet about them.
    rig.Detect();
    EXPECT_EQ(rig.notices.size(), 2u);
    EXPECT_EQ(rig.bar.Count("Physical drive 7 is not"), 1);

    // Every write path, as a caller that took the drive for a mailbox or ATA
    // enclosure would send it: refused unsent, with the reason in panel 4.
    rig.io.Clear();
    for (unsigned drive : {7u, 8u, 9u}) {
        for (uint32_t flags : {0x40u, 0x10u, 0xA0u}) {
            flags |= drive;
            ASSERT_NE(rig.transport.OpenDevice(static_cast<int>(drive)), kInvalidHandle);
            Block512 block{};
            const std::array<uint8_t, 256> page{};
            EXPECT_FALSE(SendModeCommand(rig.transport, flags, spi_mode::kEnterFlashAccess) && (flags & 0x20) == 0);
            EXPECT_FALSE(ReadFlashBlock(rig.transport, flags, 0, block) && (flags & 0x20) == 0);
            EXPECT_FALSE(ProgramFlashPage(rig.transport, flags, 0, page));
            EXPECT_FALSE(EraseFlashSector(rig.transport, flags, 0));
            EXPECT_FALSE(SendControllerCommand(rig.transport));
            EXPECT_EQ(rig.bar.Panel(kErrorPanel), NotSupportedText(drive));
            rig.transport.CloseDevice();
        }
    }
    rig.ExpectOnlyReads("write attempts");
    EXPECT_EQ(rig.disks.writes, 0u);
    EXPECT_EQ(rig.disks.Image(7), before7);
    EXPECT_EQ(rig.disks.Image(8), before8);

    // Maintenance aimed at it (a list that names it) is refused with a box.
    DriveTable forged = rig.drives;
    forged.EnclosureFlags[0] = 0x47;
    ShellModel window;
    window.deviceChecked = {true, false};
    rig.boxes.shown.clear();
    EXPECT_FALSE(SendControllerCommandTo(rig.transport, forged, window, 0));
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, NotSupportedText(7));
    EXPECT_EQ(rig.disks.writes, 0u);
    // The real enclosure in slot 0 still takes its command.
    rig.transport.Command().SetCommand(command::kDiskCommand, 1);
    EXPECT_TRUE(SendControllerCommandTo(rig.transport, rig.drives, window, 0));
}

TEST(EnclosureProofTest, StatusPollsOnTheMailboxRouteOnlyRead) {
    LookAlikeRig rig;
    rig.Detect();
    rig.io.Clear();
    for (int poll = 0; poll < 3; ++poll) {
        for (unsigned slot = 0; slot < rig.drives.EnclosureCount; ++slot) {
            rig.drives.SelectedEnclosure = slot;
            Block512 block{};
            EXPECT_TRUE(rig.reader.ReadStatus(rig.drives, {}, block)) << slot;
        }
    }
    rig.ExpectOnlyReads("status polls");
    // The mailbox enclosure's reads were READ(10) of block 33 and nothing else.
    size_t mailboxReads = 0;
    for (const testing::IoCall& c : rig.io.ScsiCalls()) {
        if (c.Cdb(0) != 0x28) continue;
        EXPECT_EQ(bytes::GetBe32(&c.Scsi().cdb[2]), 33u);
        ++mailboxReads;
    }
    EXPECT_EQ(mailboxReads, 3u * 3u) << "the mailbox, ATA and mailbox+ATA enclosures read block 33";
}

TEST(EnclosureProofTest, EnclosuresPastTheEighthAreNamedOnce) {
    std::string enclosures, drives;
    for (int n = 0; n < 10; ++n) {
        enclosures += std::string(n ? "," : "") + R"({"name": "e)" + std::to_string(n) + R"(", "paths": ["mailbox"]})";
        drives += std::string(n ? "," : "") + R"({"number": )" + std::to_string(n) + R"(, "enclosure": "e)" +
                  std::to_string(n) + R"("})";
    }
    sim::SimulatedPc pc(testing::ScenarioFrom(R"({"enclosures": [)" + enclosures + R"(], "drives": [)" + drives + "]}"));
    testing::RecordingMessageBoxes boxes;
    HistoryBar bar;
    Transport transport(pc, boxes, bar, NoPause());
    StatusReader reader(transport);
    DriveTable table;
    DriveDetection detection(table, transport, pc, reader);
    std::vector<std::string> notices;
    detection.SetNotice([&](const std::string& text) { notices.push_back(text); });
    table.PhysicalDriveCount = detection.CountPhysicalDrives();
    EXPECT_EQ(detection.IdentifyEnclosures(true), 8u);
    EXPECT_EQ(detection.IdentifyEnclosures(true), 8u);
    ASSERT_EQ(notices.size(), 1u) << "said once";
    EXPECT_EQ(notices[0], "More than 8 enclosures: physical drives 8, 9 left out.");
    EXPECT_EQ(bar.Count("More than 8 enclosures"), 1);
}

}  // namespace
}  // namespace kestrel
