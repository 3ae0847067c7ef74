#include "eventlog/status_events.h"

#include <gtest/gtest.h>

#include "eventlog/log_fixture.h"
#include "eventlog/log_text.h"

namespace kestrel {
namespace {

using testing::LogFixture;
using testing::Record;
using Lines = std::vector<std::string>;
using Alert = std::tuple<int, int, int>;

// Event rules run over sequences of records of enclosure 0, after a program
// start that saw both disks in service.
struct Events : LogFixture {
    Events() { Start(); }
};

TEST(StatusEvents, MemberDiskChangesHdd1FirstWithDetailsAndRemovalAlerts) {
    Events f;
    const std::string ts = f.Ts();
    EXPECT_EQ(f.Pass(Record().diskState(0x44)), (Lines{"D1 HDD1 was removed, " + ts, "D1 HDD2 was removed, " + ts}));
    EXPECT_EQ(f.alerts.calls, (std::vector<Alert>{{1, 0, 0}, {1, 0, 1}}));

    EXPECT_EQ(f.Pass(Record().diskState(0x11)), (Lines{"D1 HDD1 was inserted, " + ts, "D1 HDD2 was inserted, " + ts}));
    const Record in = Record().diskState(0x22).speed(0x31).disk(0, "HDD ONE", "S1", 1 << 22).disk(1, "", "S2", 5);
    EXPECT_EQ(f.Pass(in), (Lines{"D1 HDD1 was initialized (SATA1.5G), " + ts, "  Model no.: HDD ONE",
                                 "  Serial no.: \"S1                  \"", "  Capacity : 2 GB(4194304 Sectors)",
                                 "D1 HDD2 was initialized, (SATA6G), " + ts, "  Model no.:       ",
                                 "  Serial no.: \"S2                  \"", "  Capacity : 0 GB(5 Sectors)"}));

    // Present keeps priority over failed: 0x22 -> 0x2A says nothing for HDD1,
    // yet the change is recorded (the fixture checks the file each pass).
    EXPECT_TRUE(f.Pass(Record().diskState(0x2A)).empty());
    const Lines failed = f.Pass(Record().diskState(0x82).disk(1, "SMALL", "S3", 9));
    EXPECT_EQ(failed, (Lines{"D1 HDD2 was failed, Capacity too small." + ts, "  Model no.: SMALL ",
                             "  Serial no.: \"S3                  \"", "  Capacity : 0 GB(9 Sectors)"}));
    EXPECT_EQ(f.alerts.calls.size(), 2u) << "failed and inserted disks raise no alert";
    EXPECT_TRUE(f.Pass(Record().diskState(0x82)).empty()) << "an unchanged state is silent";
}

TEST(StatusEvents, ForgottenDiskStateComparesAsZero) {
    testing::RecordingAlerts alerts;
    StatusEvents events(alerts);
    Lines lines;
    const auto emit = [&](std::string l) { lines.push_back(std::move(l)); };
    EXPECT_TRUE(events.Apply(1, Decoded(Record().diskState(0x14)), true, "T", emit));
    EXPECT_EQ(lines, (Lines{"D2 HDD1 was removed, T", "D2 HDD2 was inserted, T"}));
    EXPECT_EQ(alerts.calls, (std::vector<Alert>{{1, 1, 0}}));
    lines.clear();
    EXPECT_FALSE(events.Apply(1, Decoded(Record().diskState(0x14)), false, "T", emit));
    EXPECT_EQ(events.Memory(1).LastDiskState, 0x14);
}

TEST(StatusEvents, ScanProgressIsLoggedOncePerPercentAndEndsWithItsResult) {
    Events f;
    f.Firmware(0, "100125.1");  // reports scans
    const std::string ts = f.Ts();
    const Record scan = Record().diskState(0x22).activity(0x81);
    EXPECT_EQ(f.Pass(Record(scan).progress(0)), (Lines{"D1 HDD1 Scan 0%, " + ts}));
    EXPECT_EQ(f.log->LastProgress(0), 0);
    EXPECT_TRUE(f.Pass(Record(scan).progress(0)).empty());
    EXPECT_EQ(f.Pass(Record(scan).progress(99)), (Lines{"D1 HDD1 Scan 99%, " + ts}));
    EXPECT_EQ(f.Pass(Record().diskState(0x22)), (Lines{"D1 HDD1 Scan Done, " + ts}));
    EXPECT_EQ(f.log->LastProgress(0), 255);
    EXPECT_TRUE(f.Pass(Record().diskState(0x22)).empty());

    // Stopped at 97: both disks present gives the OK line, else nothing.
    f.Pass(Record().diskState(0x22).activity(0x82).progress(97));
    EXPECT_EQ(f.Pass(Record().diskState(0x22)), (Lines{"D1 HDD1 OK, HDD2 OK, " + ts}));
    f.Pass(Record().diskState(0x22).activity(0x82).progress(99));
    f.Pass(Record().diskState(0x42).activity(0x82).progress(99));  // HDD1 pulled during the scan
    EXPECT_TRUE(f.Pass(Record().diskState(0x42)).empty());
    EXPECT_EQ(f.log->LastProgress(0), 255);
    EXPECT_FALSE(f.log->Events().Memory(0).ScanInProgress);
}

TEST(StatusEvents, RebuildNamesTheCopyDirection) {
    Events f;
    f.Firmware(0, "090618.0");
    const std::string ts = f.Ts();
    // Without scan reporting an activity with bit 7 is a rebuild too.
    EXPECT_EQ(f.Pass(Record().diskState(0x22).activity(0x81).progress(12)), (Lines{"D1 HDD2 --> HDD1 12%, " + ts}));
    EXPECT_EQ(f.Pass(Record().diskState(0x22).activity(0x01).progress(99)), (Lines{"D1 HDD2 --> HDD1 99%, " + ts}));
    EXPECT_EQ(f.Pass(Record().diskState(0x22)), (Lines{"D1 HDD2 --> HDD1 Done, " + ts}));

    EXPECT_EQ(f.Pass(Record().diskState(0x22).activity(0x02).progress(99)), (Lines{"D1 HDD1 --> HDD2 99%, " + ts}));
    EXPECT_EQ(f.Pass(Record().diskState(0x22)), (Lines{"D1 HDD1 --> HDD2 Done, " + ts}));
    f.Pass(Record().diskState(0x22).activity(0x02).progress(50));
    EXPECT_EQ(f.Pass(Record().diskState(0x22)), (Lines{"D1 HDD1 OK, HDD2 OK, " + ts}));
    f.Pass(Record().diskState(0x22).activity(0x02).progress(50));
    EXPECT_EQ(f.Pass(Record().diskState(0x42)), (Lines{"D1 HDD2 was removed, " + ts})) << "no result line";
}

TEST(StatusEvents, BadSectorsGiveOneHeadingAndTheNewAddressesFromTheRing) {
    Events f;
    f.Firmware(0, "100125.1");  // reports scans
    const std::string ts = f.Ts();
    auto ring = [](Record r, unsigned from, unsigned to) {
        for (unsigned k = from; k < to; ++k) r.badSectorEntry(k, 1000 + k);
        return r;
    };
    auto lbas = [](unsigned from, unsigned to) {
        Lines l;
        for (unsigned k = from; k < to; ++k) l.push_back("  LBA: " + std::to_string(1000 + k));
        return l;
    };
    auto heading = [&](const char* disk) { return "D1 " + std::string(disk) + " Bad Sector was found. " + ts; };
    auto with = [](Lines a, const Lines& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    const Record base = Record().diskState(0x22).activity(0x04);
    EXPECT_EQ(f.Pass(ring(Record(base).badSectors(25), 0, 25)), with({heading("HDD1")}, lbas(15, 25)));
    EXPECT_TRUE(f.Pass(Record(base).badSectors(0)).empty()) << "a count back to 0 is ignored";
    EXPECT_EQ(f.log->Events().Memory(0).LastBadSectorCount, 25);
    EXPECT_EQ(f.Pass(ring(Record(base).badSectors(28), 0, 28)), with({heading("HDD1")}, lbas(25, 28)));
    EXPECT_TRUE(f.Pass(ring(Record(base).badSectors(28), 0, 28).activity(0)).empty()) << "no bad sector bit";
    EXPECT_TRUE(f.Pass(ring(Record(base).badSectors(20), 0, 20)).empty()) << "a lower count is taken silently";
    EXPECT_EQ(f.Pass(ring(Record(base).badSectors(22), 0, 22).activity(0x08)), with({heading("HDD2")}, lbas(20, 22)));

    // Both bits: the disk of the running activity.
    Record both = ring(Record().diskState(0x22).badSectors(23), 0, 23);
    EXPECT_EQ(f.Pass(Record(both).activity(0x8D).progress(1))[1], heading("HDD1")) << "scan of HDD1";
    EXPECT_EQ(f.Pass(Record(both).badSectors(24).activity(0x0D).progress(2))[1], heading("HDD2"))
        << "rebuild onto HDD1 reads HDD2";
    EXPECT_EQ(f.Pass(Record(both).badSectors(25).activity(0x0C).diskState(0x42))[1], heading("HDD1"));
    const Lines noDisk = f.Pass(Record(both).badSectors(26).activity(0x0C).diskState(0x44));
    EXPECT_EQ(noDisk, (Lines{"D1 HDD1 was removed, " + ts, "  LBA: 1015"})) << "no heading, the address still";
}

TEST(StatusEvents, SensorAlertsOncePerEpisodeOfEachEnclosure) {
    testing::RecordingAlerts alerts;
    StatusEvents events(alerts);
    Lines lines;
    const auto emit = [&](std::string l) { lines.push_back(std::move(l)); };
    auto apply = [&](unsigned i, uint8_t env, uint8_t support = 0x11) {
        return events.Apply(i, Decoded(Record().sensorSupport(support).env(env).fan(0).temperature(41)), false, "T",
                            emit);
    };
    EXPECT_TRUE(apply(0, 0xA1)) << "the alarm's start is recorded";
    EXPECT_FALSE(apply(0, 0xA1));
    EXPECT_EQ(alerts.calls, (std::vector<Alert>{{4, 0, 0}}));
    EXPECT_EQ(lines, (Lines{"D1 Fan failure began (fan 0 RPM, 41 \xC2\xB0" "C), T"}));
    apply(0, 0xA0, 0x10);  // sensors not supported: remembered flags stay
    apply(0, 0x01);        // high nibble not 0xA: likewise
    apply(0, 0xA1);
    EXPECT_EQ(alerts.calls.size(), 1u);

    // A second enclosure with healthy sensors, polled in turn with the
    // failing one, must not re-arm the first one's alarm.
    for (int poll = 0; poll < 5; ++poll) {
        apply(0, 0xA1);
        apply(1, 0xA0);
    }
    EXPECT_EQ(alerts.calls.size(), 1u);
    apply(1, 0xA5);
    EXPECT_EQ(alerts.calls, (std::vector<Alert>{{4, 0, 0}, {4, 1, 0}, {3, 1, 0}}));
    lines.clear();
    apply(0, 0xA0);  // the episode ends...
    apply(0, 0xA1);  // ...and a new one mails again
    EXPECT_EQ(alerts.calls.size(), 4u);
    EXPECT_EQ(lines, (Lines{"D1 Fan failure ended (fan 0 RPM, 41 \xC2\xB0" "C), T",
                            "D1 Fan failure began (fan 0 RPM, 41 \xC2\xB0" "C), T"}));
    EXPECT_EQ(logtext::LinePriority(lines[1]), 4);
    EXPECT_EQ(logtext::LinePriority(lines[0]), 5);
    EXPECT_EQ(logtext::LinePriority("D2 Device was removed.12/9/26 1:00 PM"), 2);
    EXPECT_EQ(logtext::LinePriority("D1 HDD2 was removed, T"), 4);
    EXPECT_EQ(logtext::LinePriority("D1 HDD1 --> HDD2 45%, T"), 6);
    EXPECT_EQ(logtext::LinePriority("  HDD2 is absent. "), 6);
    EXPECT_EQ(events.LastEnvFlags(0), 0xA1);
    EXPECT_EQ(events.LastEnvFlags(1), 0xA5);
}

}  // namespace
}  // namespace kestrel
