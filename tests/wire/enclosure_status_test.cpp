#include "wire/enclosure_status.h"

#include <gtest/gtest.h>

#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Decoded;
using testing::Record;

TEST(EnclosureStatus, AScanIsAScanOnlyOnFirmwareThatReportsScans) {
    const Record scan = Record().diskState(0x22).activity(0x82).progress(40);
    const EnclosureStatus reported = Decoded(scan, /*scanReporting=*/true);
    EXPECT_EQ(reported.activity, Activity::Scan);
    EXPECT_EQ(reported.target, 1);
    EXPECT_EQ(reported.progress, 40);
    EXPECT_EQ(Decoded(scan, false).activity, Activity::Rebuild);
    EXPECT_EQ(Decoded(Record().diskState(0x22).progress(40), true).activity, Activity::None);
    // The capabilities come from the enclosure's own revision.
    EXPECT_TRUE(CapabilitiesOfIdentify(testing::IdentifyBlock("X", "090619.0")).scanReporting);
    EXPECT_FALSE(CapabilitiesOfIdentify(testing::IdentifyBlock("X", "090618.9")).scanReporting);
    EXPECT_FALSE(CapabilitiesOfIdentify(Block512{}).scanReporting);
}

TEST(EnclosureStatus, ArrayStateAndMemberConditionsFollowTheirBitsInOrder) {
    EXPECT_EQ(Decoded(Record().diskState(0x22)).array, ArrayState::Normal);
    EXPECT_EQ(Decoded(Record().diskState(0x24)).array, ArrayState::SingleDisk);
    EXPECT_EQ(Decoded(Record().diskState(0x44)).array, ArrayState::Failure);
    const EnclosureStatus s = Decoded(Record().diskState(0x1A));  // HDD1 present and failed, HDD2 inserted
    EXPECT_EQ(s.disks[0].condition, DiskCondition::Present) << "present comes before failed";
    EXPECT_TRUE(s.disks[0].FailedBit());
    EXPECT_EQ(s.disks[1].condition, DiskCondition::Inserted);
    EXPECT_EQ(Decoded(Record().diskState(0x00)).disks[0].condition, DiskCondition::Empty);
    EXPECT_STREQ(ConditionName(DiskCondition::Empty), "empty");
}

TEST(EnclosureStatus, SensorsCountOnlyWhenTheEnclosureSaysSoAndThePanelNeedsItsFirmware) {
    const Record fan = Record().sensorSupport(0x11).env(0xA1).temperature(58);
    ASSERT_TRUE(Decoded(fan).sensors.has_value());
    EXPECT_TRUE(Decoded(fan).sensors->fanFailure);
    EXPECT_FALSE(Decoded(fan).sensors->overTemperature);
    EXPECT_FALSE(Decoded(Record(fan).sensorSupport(0x10)).sensors.has_value());
    EXPECT_FALSE(Decoded(Record(fan).env(0x51)).sensors.has_value());
    EXPECT_TRUE(Decoded(Record(fan).sensorSupport(0x10)).fanFailureBit) << "the bit itself is kept for the colours";
    EXPECT_TRUE(Decoded(fan, true, true).environmentShown);
    EXPECT_FALSE(Decoded(fan, true, false).environmentShown);
    EXPECT_FALSE(Decoded(Record(fan).env(0xAA), true, true).environmentShown);
}

TEST(EnclosureStatus, FieldsOfTheRecord) {
    const EnclosureStatus s = Decoded(Record()
                                          .mode(63)
                                          .options(0x05)
                                          .backupPeriod(30)
                                          .firmwareCode("G1Z")
                                          .capacity(uint64_t{1} << 32)
                                          .disk(0, "MODEL", "SER", 2000)
                                          .speed(0x32)
                                          .fan(0x0102)
                                          .badSectors(13)
                                          .badSectorEntry(12, 777));
    EXPECT_EQ(s.modeName, "Bypass");
    EXPECT_TRUE(s.buzzerEnabled);
    EXPECT_FALSE(s.autoScan);
    EXPECT_TRUE(s.scheduledBackup);
    EXPECT_EQ(s.backupPeriod, 30);
    EXPECT_EQ(s.firmwareCode, "C00");
    EXPECT_EQ(s.configuredSectors, uint64_t{1} << 32);
    EXPECT_EQ(s.disks[0].model.substr(0, 6), "MODEL ");
    EXPECT_EQ(s.disks[0].sectors, 2000u);
    EXPECT_EQ(s.disks[0].speedCode, 2u);
    EXPECT_EQ(s.disks[1].speedCode, 3u);
    EXPECT_EQ(s.fanRpm, 258u);
    EXPECT_EQ(s.BadSectorAddress(12), 777u);
    EXPECT_EQ(s.BadSectorAddress(2), 777u) << "entry 12 overwrote slot 2";
}

TEST(EnclosureStatus, APulledDiskKeepsItsIdentityOnlyWhenItLeftService) {
    const Block512 before = Record().diskState(0x22).disk(0, "OLD1", "S1", 100).disk(1, "OLD2", "S2", 200);
    Block512 pulled = Record().diskState(0x42);  // HDD2 pulled
    KeepPulledIdentity(before, pulled);
    EXPECT_EQ(Decoded(pulled).disks[1].serial.substr(0, 2), "S2");
    EXPECT_EQ(Decoded(pulled).disks[1].sectors, 200u);
    EXPECT_TRUE(Decoded(pulled).disks[0].serial.empty()) << "HDD1 is still in service: its own record counts";
    EXPECT_EQ(DiskStateOf(pulled), 0x42);
}

}  // namespace
}  // namespace kestrel
