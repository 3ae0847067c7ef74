// The status read over an enclosure's access path, and which enclosure the
// scheduler's read goes to.
#include <gtest/gtest.h>

#include "device/routes.h"
#include "device/status_reader.h"
#include "sim/simulated_pc.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

class StatusReaderTest : public ::testing::Test {
protected:
    StatusReaderTest() : pc_(testing::ScenarioFrom(testing::kEveryPath)), transport_(pc_, boxes_, bar_), reader_(transport_) {
        drives_.EnclosureCount = 3;
        drives_.EnclosureFlags[0] = 0x40;  // drive 0, mailbox
        drives_.EnclosureFlags[1] = 0x11;  // drive 1, ATA
        drives_.EnclosureFlags[2] = 0xA2;  // drive 2, bridge
    }
    sim::SimulatedPc pc_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    Transport transport_;
    StatusReader reader_;
    DriveTable drives_;
};

TEST_F(StatusReaderTest, ReadsOverEachPathAndClosesTheDrive) {
    for (auto [flags, name] : {std::pair<uint32_t, const char*>{0x40, "m"}, {0x11, "a"}, {0xA2, "b"}}) {
        Block512 status{};
        ASSERT_TRUE(reader_.ReadFor(flags, status)) << name;
        EXPECT_EQ(status, *pc_.StatusOf(name));
        EXPECT_EQ(transport_.Handle(), kInvalidHandle);
    }
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(StatusReaderTest, FailuresShowTheirTexts) {
    Block512 status{};
    pc_.RunStep(testing::FailStep(sim::RequestKind::Open, "b"));
    EXPECT_FALSE(reader_.ReadFor(0xA2, status));
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Invalid Drive");
    pc_.RunStep(testing::FailStep(sim::RequestKind::Status, "b"));
    EXPECT_FALSE(reader_.ReadFor(0xA2, status));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Read Error for USB");
    pc_.RunStep(testing::FailStep(sim::RequestKind::Status, "a"));
    EXPECT_FALSE(reader_.ReadFor(0x11, status));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 330");
    EXPECT_EQ(transport_.Handle(), kInvalidHandle);

    DriveTable empty;
    EXPECT_FALSE(reader_.ReadStatus(empty, {}, status));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Device not found!!!");
    EXPECT_EQ(boxes_.shown.back().text, "No Device found !");
    EXPECT_EQ(boxes_.shown.back().caption, "Message");
}

TEST_F(StatusReaderTest, TargetIsLockedThenProbingThenSelected) {
    using S = StatusReader::Situation;
    drives_.SelectedEnclosure = 1;
    drives_.ProbingFlags = 0x40;
    drives_.LockedEnclosure = 2;
    EXPECT_EQ(StatusReader::TargetFlags(drives_, S{true, true}), 0xA2u);
    EXPECT_EQ(StatusReader::TargetFlags(drives_, S{true, false}), 0x40u);
    EXPECT_EQ(StatusReader::TargetFlags(drives_, S{false, false}), 0x11u);
    drives_.LockedEnclosure = DriveTable::kNoEnclosure;
    EXPECT_EQ(StatusReader::TargetFlags(drives_, S{false, true}), 0x11u);

    // While detection runs, an empty committed list does not stop the read.
    DriveTable probing;
    probing.ProbingFlags = 0x11;
    Block512 status{};
    EXPECT_TRUE(reader_.ReadStatus(probing, S{true, false}, status));
    EXPECT_EQ(status, *pc_.StatusOf("a"));
}

}  // namespace
}  // namespace kestrel
