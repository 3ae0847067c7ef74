// The kernel-in-the-loop target's own answers, on the host: what a SAT
// disk sends back for ATA PASS-THROUGH must decode with the device layer's
// own reading of a kernel reply, and the disk commands the kernel needs to
// attach a disk are answered whatever the simulated drive is.
#include <gtest/gtest.h>

#include "kernel/probe.h"
#include "kernel/simulated_luns.h"
#include "platform/linux/ata_translation.h"
#include "platform/linux/sg_reply.h"
#include "sim/simulated_pc.h"
#include "support/sim_scenarios.h"

namespace kestrel::kernelloop {
namespace {

class SimulatedLunsTest : public ::testing::Test {
protected:
    ScsiOutcome Run(unsigned lun, std::array<uint8_t, 16> cdb, uint32_t in, std::vector<uint8_t> out = {}) {
        return luns_.Execute(lun, cdb, in, out);
    }
    sim::SimulatedPc pc_{testing::ScenarioFrom(ProbeScenario())};
    SimulatedLuns luns_{pc_, kProbeDrives};
};

TEST_F(SimulatedLunsTest, AtaPassThroughComesBackAsASatDeviceSendsIt) {
    // Drive 1 takes taskfiles: IDENTIFY (no CK_COND) gives the data with
    // GOOD; a non-data command with CK_COND gives the registers in
    // fixed-format sense, which the device layer reads as success.
    const auto identify = linuxio::AtaPassThrough16({.device = 0xE0, .command = 0xEC}, 512);
    const ScsiOutcome answer = Run(1, identify, 512);
    EXPECT_EQ(answer.status, 0x00);
    ASSERT_EQ(answer.dataIn.size(), 512u);
    EXPECT_EQ(answer.dataIn[258], '3');
    EXPECT_TRUE(linuxio::AtaResult({answer.status, 0, 0, 0, answer.sense}).ok);
    const auto enter = linuxio::AtaPassThrough16({.features = 0x03, .command = 0x88}, 0);
    const ScsiOutcome entered = Run(1, enter, 0);
    EXPECT_EQ(entered.status, 0x02);
    const linuxio::AtaOutcome read = linuxio::AtaResult({entered.status, 0, 0x08, 0, entered.sense});
    EXPECT_TRUE(read.ok);
    ASSERT_TRUE(read.returned);
    EXPECT_EQ(read.returned->status & 0x01, 0);

    // A vendor command the controller refuses: ERR in the status register.
    const auto unknownFeature = linuxio::AtaPassThrough16({.features = 0x7E, .command = 0x88}, 0);
    const ScsiOutcome refused = Run(1, unknownFeature, 0);
    const linuxio::AtaOutcome failed = linuxio::AtaResult({refused.status, 0, 0x08, 0, refused.sense});
    EXPECT_FALSE(failed.ok);
    ASSERT_TRUE(failed.returned);
    EXPECT_TRUE(failed.returned->status & 0x01);

    // Behind a bridge without SAT the command is unknown: no registers.
    const ScsiOutcome bridge = Run(2, identify, 512);
    EXPECT_EQ(bridge.sense.at(2), 0x05);
    EXPECT_FALSE(linuxio::AtaResult({bridge.status, 0, 0x08, 0, bridge.sense}).returned);
}

TEST_F(SimulatedLunsTest, DiskCommandsForTheKernelAndEverythingElseForTheController) {
    const ScsiOutcome capacity = Run(6, {0x25}, 8);
    ASSERT_EQ(capacity.dataIn.size(), 8u);
    EXPECT_EQ(capacity.dataIn[6], 0x02);  // 512-byte blocks
    const ScsiOutcome serial = Run(0, {0x12, 0x01, 0x80, 0x00, 0xFF}, 255);
    EXPECT_EQ(std::string(serial.dataIn.begin() + 4, serial.dataIn.end()), "KSIMLUN0");
    EXPECT_EQ(Run(0, {0x12, 0x01, 0xB9, 0x00, 0xFF}, 255).status, 0x02) << "unknown VPD page";
    // The standard INQUIRY and block 58 are the controller's.
    const ScsiOutcome inquiry = Run(0, {0x12, 0, 0, 0, 36}, 36);
    EXPECT_EQ(std::string(inquiry.dataIn.begin() + 8, inquiry.dataIn.begin() + 16), "KESTREL ");
    const ScsiOutcome identify = Run(0, {0x28, 0, 0, 0, 0, 58, 0, 0, 1}, 512);
    ASSERT_EQ(identify.dataIn.size(), 512u);
    EXPECT_EQ(identify.dataIn[259], 'X');
    // The bridge's vendor CDB, shift 1.
    EXPECT_EQ(Run(2, {0xFE, 0x8B}, 512).dataIn.size(), 512u);
    EXPECT_EQ(Run(kProbeDrives, {0x00}, 0).status, 0x02) << "no such LUN";
    // Each command is logged as it arrived, cut to its group's length.
    auto endsWith = [](const std::string& line, const std::string& tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith(luns_.Log().at(6), " ms lun 7 status 0x02 in 0 out 0 cdb 00 00 00 00 00 00"));
    EXPECT_TRUE(endsWith(luns_.Log().at(5), " ms lun 2 status 0x00 in 512 out 0 cdb fe 8b 00 00 00 00 00 00 00 00"));
}

}  // namespace
}  // namespace kestrel::kernelloop
