#include "monitor/enclosure_health.h"

#include <gtest/gtest.h>

#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

Record Fine() { return Record().diskState(0x22).sensorSupport(0x11).env(0xA0).temperature(40); }

TEST(EnclosureHealth, EachRecordReadsAsItsWorstCondition) {
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Fine(), true))), "Normal");
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).diskState(0x24), true))), "Degraded (HDD1 absent)");
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).diskState(0x44), true))), "Failed");
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).diskState(0x12).activity(0x02).progress(24), true))),
              "Rebuilding 24%");
    // A scan is told from a rebuild only by firmware that reports scans.
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).activity(0x81).progress(7), true))), "Scanning 7%");
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).activity(0x81).progress(7), false))), "Rebuilding 7%");
    // Sensor alarms outrank a rebuild; a failed array outranks them.
    const EnclosureHealth fan = ReadHealth(Decoded(Record(Fine()).env(0xA1).activity(0x02).progress(5), true));
    EXPECT_EQ(fan.state, HealthState::FanFailure);
    EXPECT_TRUE(fan.rebuilding);
    EXPECT_EQ(HealthText(ReadHealth(Decoded(Record(Fine()).env(0xA4).temperature(58), true))), "Over temperature: 58 \xC2\xB0" "C");
    EXPECT_EQ(ReadHealth(Decoded(Record(Fine()).env(0xA5).diskState(0x44), true)).state, HealthState::Failed);
    EXPECT_EQ(LevelOf(HealthState::Normal), HealthLevel::Normal);
    EXPECT_EQ(LevelOf(HealthState::Rebuilding), HealthLevel::Attention);
    EXPECT_EQ(LevelOf(HealthState::FanFailure), HealthLevel::Alarm);
    EXPECT_EQ(LevelOf(HealthState::Gone), HealthLevel::Alarm);
}

struct Board {
    Board() {
        drives.EnclosureCount = 2;
        drives.EnclosureFlags[0] = 0x41;
        drives.EnclosureFlags[1] = 0x42;
        Set(0, Fine());
        Set(1, Fine());
    }
    void Set(unsigned slot, const Block512& record) { drives.CurrentStatus[drives.DriveOfSlot(slot)] = record; }
    std::vector<RebuildEnd> Poll(unsigned mask = 3) { return board.Update(drives, monitored, SlotStatuses(drives, mask)); }
    DriveTable drives;
    std::array<bool, 2> monitored{true, true};
    HealthBoard board;
};

TEST(EnclosureHealth, TheWorstCountsOnlyEnclosuresWhoseStatusWasRead) {
    Board b;
    b.Set(1, Record(Fine()).env(0xA1));
    b.Poll(0);
    EXPECT_FALSE(b.board.Worst().has_value());  // nothing read yet: no alarm from an empty record
    EXPECT_NE(b.board.Summary("RAID GUI").find("Device1: waiting for its status"), std::string::npos);
    b.Poll(1);
    EXPECT_EQ(b.board.Worst(), HealthState::Normal);
    b.Poll(2);
    EXPECT_EQ(b.board.Worst(), HealthState::FanFailure);
    EXPECT_EQ(b.board.Summary("RAID GUI"), "RAID GUI\nDevice1: Normal\nDevice2: Fan failure");
    // An enclosure nobody monitors keeps no state.
    b.monitored = {true, false};
    b.Poll(1);
    EXPECT_EQ(b.board.Worst(), HealthState::Normal);
    EXPECT_EQ(b.board.Summary("T"), "T\nDevice1: Normal\nDevice2: Not monitored");
}

TEST(EnclosureHealth, AGoneEnclosureStaysUntilADetectionFindsMore) {
    Board b;
    b.Poll();
    b.board.EnclosureRemoved(1);
    b.drives.EnclosureCount = 1;
    b.Poll();
    EXPECT_EQ(b.board.Worst(), HealthState::Gone);
    EXPECT_EQ(b.board.Summary("T"), "T\nDevice1: Normal\nDevice2: Gone");
    b.Poll();
    EXPECT_EQ(b.board.Worst(), HealthState::Gone);
    b.drives.EnclosureCount = 2;
    b.Poll(0);
    b.Poll();
    EXPECT_EQ(b.board.Worst(), HealthState::Normal);
    EXPECT_EQ(b.board.Rows().size(), 2u);
}

TEST(EnclosureHealth, EachRebuildEndIsReportedOnceWithItsOutcome) {
    Board b;
    b.Set(0, Record(Fine()).diskState(0x12).activity(0x02).progress(1));
    EXPECT_TRUE(b.Poll().empty());
    b.Set(0, Record(Fine()).diskState(0x12).activity(0x02).progress(99));
    EXPECT_TRUE(b.Poll().empty());
    b.Set(0, Fine());
    const std::vector<RebuildEnd> done = b.Poll();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].slot, 0);
    EXPECT_TRUE(done[0].completed);
    EXPECT_TRUE(b.Poll().empty());

    // The target disk pulled during the rebuild: it failed.
    b.Set(1, Record(Fine()).diskState(0x12).activity(0x02).progress(40));
    b.Poll();
    b.Set(1, Record(Fine()).diskState(0x42));
    const std::vector<RebuildEnd> failed = b.Poll();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].slot, 1);
    EXPECT_FALSE(failed[0].completed);
    // A scan that ends is no rebuild, on firmware that reports scans.
    b.drives.KnownIdentify[b.drives.DriveOfSlot(0)] = testing::IdentifyBlock("KESTREL RAID BOX", "100125.1");
    b.Set(0, Record(Fine()).activity(0x81).progress(50));
    b.Poll();
    b.Set(0, Fine());
    EXPECT_TRUE(b.Poll().empty());
}

}  // namespace
}  // namespace kestrel
