#include "wire/status_sector.h"

#include <gtest/gtest.h>

#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;
namespace st = status;

TEST(StatusSector, ModeNamesAndSpeedLabelsHaveFallbacks) {
    EXPECT_EQ(st::ModeName(0), "Striping(RAID0)");
    EXPECT_EQ(st::ModeName(1), "Mirroring(RAID1)");
    EXPECT_EQ(st::ModeName(3), "JBOD");
    EXPECT_EQ(st::ModeName(4), "Undefine");
    EXPECT_EQ(st::ModeName(63), "Bypass");
    EXPECT_EQ(st::ModeName(255), "Undefine");
    EXPECT_EQ(st::SataSpeedLabel(1), "1.5G");
    EXPECT_EQ(st::SataSpeedLabel(3), "6G");
    EXPECT_EQ(st::SataSpeedLabel(0), "");
    EXPECT_EQ(st::SataSpeedLabel(9), "");
}

TEST(StatusSector, FirmwareCodeMustMatchItsPattern) {
    EXPECT_EQ(st::FirmwareText(Record().firmwareCode("C01")), "C01");
    EXPECT_EQ(st::FirmwareText(Record().firmwareCode("ZAF")), "ZAF");
    EXPECT_EQ(st::FirmwareText(Record().firmwareCode("G1Z")), "C00");
    EXPECT_EQ(st::FirmwareText(Record().firmwareCode("c01")), "C00");
    EXPECT_EQ(st::FirmwareText(Record().firmwareCode("A0a")), "C00");
    EXPECT_EQ(st::FirmwareText(Record()), "C00");
}

TEST(StatusSector, CapacitiesAreFortyBitSectorCounts) {
    Record r;
    r.disk(0, "M", "S", uint64_t{1} << 32);
    EXPECT_EQ(st::Gigabytes(st::Sectors40(r, testing::at::kDisk1Capacity)), 2048u);
    r.capacity(0xFFFFFFFFFFull);
    EXPECT_EQ(st::Sectors40(r, testing::at::kConfiguredCapacity), 0xFFFFFFFFFFull);
    EXPECT_EQ(st::CapacityText(976773168), "465 GB(976773168 Sectors)");
    EXPECT_EQ(st::Megabytes(2048), 1u);
}

TEST(StatusSector, AtaStringsSwapWordBytesAndStopAtNul) {
    Record r;
    r.disk(0, std::string(40, ' '), "WD-123", 0);
    EXPECT_EQ(st::AtaString(r, testing::at::kDisk1Model, 40), std::string(40, ' '));
    EXPECT_EQ(st::TrimModel(std::string(40, ' ')), std::string(6, ' '));
    EXPECT_EQ(st::TrimModel("ST3500   "), "ST3500");
    EXPECT_EQ(st::TrimModel("AB  "), "AB  ");
    EXPECT_EQ(st::AtaString(r, testing::at::kDisk1Serial, 20), "WD-123              ");
    Block512 raw{};
    raw[0] = 'B';
    raw[1] = 'A';
    raw[2] = 0;
    raw[3] = 'C';
    EXPECT_EQ(st::AtaString(raw, 0, 8), "ABC");
    // A field that runs past the record is cut at its end.
    raw[510] = 'Y';
    raw[511] = 'X';
    EXPECT_EQ(st::AtaString(raw, 510, 40), "XY");
}

TEST(StatusSector, BadSectorListIsATenEntryRing) {
    Record r;
    for (unsigned k = 0; k < 13; ++k) r.badSectorEntry(k, 1000 + k);
    EXPECT_EQ(st::BadSectorAddress(r, 0), 1010u);
    EXPECT_EQ(st::BadSectorAddress(r, 12), 1012u);
    EXPECT_EQ(st::BadSectorAddress(r, 3), 1003u);
    EXPECT_EQ(st::FanRpm(Record().fan(3021)), 3021u);
}

}  // namespace
}  // namespace kestrel
