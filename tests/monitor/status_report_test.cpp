// The status query's view of an enclosure: state, exit code, and the JSON and
// metrics texts that scripts and monitoring systems read.
#include <gtest/gtest.h>

#include <vector>

#include "monitor/status_report.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

DriveTable OneEnclosure(const Block512& status, const char* revision = "100126.1") {
    DriveTable t;
    t.EnclosureCount = 1;
    t.EnclosureFlags[0] = 0x40 | 3;  // mailbox path, drive 3
    Block512& id = t.KnownIdentify[3];
    testing::PutAta(id, testing::at::kIdentifyRevision, testing::at::kIdentifyRevisionLength, revision);
    testing::PutAta(id, testing::at::kIdentifyModel, testing::at::kModelLength, "KESTREL \"DUAL\" RAID");
    t.CurrentStatus[3] = status;
    return t;
}

Record Healthy() {
    return Record{}
        .diskState(0x22)
        .mode(1)
        .sensorSupport(0x11)
        .env(0xA0)
        .fan(2150)
        .temperature(38)
        .speed(0x32)
        .firmwareCode("R1A")
        .disk(0, "WDC WD10EZEX", "WD-1", 1953525168)
        .disk(1, "WDC WD10EZEX", "WD-2", 1953525168);
}

int CodeOf(const Block512& status, bool answering = true, const char* revision = "100126.1") {
    const DriveTable t = OneEnclosure(status, revision);
    return StatusExitCode(ReportFromDrives(t, {answering}));
}

TEST(StatusReport, ExitCodeForEveryRowOfTheTable) {
    EXPECT_EQ(CodeOf(Healthy()), 0);
    EXPECT_EQ(CodeOf(Healthy().diskState(0x42)), 1);                       // HDD2 absent: one disk
    EXPECT_EQ(CodeOf(Healthy().activity(0x02).progress(40)), 1);            // rebuilding HDD2
    EXPECT_EQ(CodeOf(Healthy().activity(0x81).progress(5)), 1);             // scanning HDD1
    EXPECT_EQ(CodeOf(Healthy().diskState(0x82)), 2);                        // HDD2 failed
    EXPECT_EQ(CodeOf(Healthy().diskState(0x44)), 2);                        // no disk: failure
    EXPECT_EQ(CodeOf(Healthy().env(0xA1)), 2);                              // fan failure
    EXPECT_EQ(CodeOf(Healthy().env(0xA4)), 2);                              // over temperature
    EXPECT_EQ(CodeOf(Healthy(), false), 2);                                 // stopped answering
    EXPECT_EQ(StatusExitCode(StatusReport{}), 3);                           // nothing read
    // Alarm bits the enclosure does not vouch for count for nothing.
    EXPECT_EQ(CodeOf(Healthy().sensorSupport(0).env(0x05)), 0);
}

TEST(StatusReport, ScanOnlyWhereTheFirmwareReportsScans) {
    const Block512 scanning = Healthy().activity(0x81).progress(130);
    EnclosureReport e = ReportEnclosure(OneEnclosure(scanning), 0, true);
    EXPECT_EQ(e.state, "Scanning");
    EXPECT_EQ(e.progress, 100);  // a wild percent is capped
    EXPECT_EQ(e.targetDisk, 1);
    e = ReportEnclosure(OneEnclosure(scanning, "090618.3"), 0, true);
    EXPECT_EQ(e.state, "Rebuilding");
}

TEST(StatusReport, JsonRoundTripsAndTextNamesEverything) {
    StatusReport r = ReportFromDrives(OneEnclosure(Healthy().diskState(0x42).activity(0)), {true});
    r.publishedAtMs = 1765000000123;
    const std::string json = StatusJson(r);
    std::string error;
    const std::optional<StatusReport> back = ParseStatusJson(json, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(StatusJson(*back), json);
    EXPECT_EQ(back->publishedAtMs, r.publishedAtMs);

    const std::string text = StatusText(r);
    for (const char* part : {"Device1: KESTREL \"DUAL\" RAID", "firmware 100126.1.R1A", "Mirroring(RAID1)",
                             "Single HDD Present", "HDD1: present, WDC WD10EZEX, serial WD-1, 931 GB, link 3G",
                             "HDD2: absent", "Fan: 2150 RPM, temperature: 38 C"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;

    for (const char* bad : {"", "[]", "{\"time\": 1}", "{\"time\": 1, \"enclosures\": [{\"slot\": 1}]}"})
        EXPECT_FALSE(ParseStatusJson(bad, error)) << bad;
}

TEST(StatusReport, PrometheusGaugesWithEscapedLabels) {
    const std::string m = StatusPrometheus(ReportFromDrives(OneEnclosure(Healthy().activity(0x02).progress(40)), {true}));
    const std::string labels = "slot=\"1\",model=\"KESTREL \\\"DUAL\\\" RAID\"";
    for (const std::string& line : std::vector<std::string>{"kestrel_status_code 1", "kestrel_enclosure_state{" + labels + "} 1",
                                     "kestrel_enclosure_up{" + labels + "} 1",
                                     "kestrel_disk_state{" + labels + ",disk=\"2\"} 0",
                                     "kestrel_progress_percent{" + labels + ",operation=\"rebuild\"} 40",
                                     "kestrel_temperature_celsius{" + labels + "} 38",
                                     "kestrel_fan_rpm{" + labels + "} 2150", "# TYPE kestrel_fan_failure gauge"})
        EXPECT_NE(m.find(line + "\n"), std::string::npos) << line << "\n" << m;
    // Every sample line belongs to a family declared before it.
    size_t declared = 0;
    for (size_t at = 0; (at = m.find("# TYPE ", at)) != std::string::npos; ++at) ++declared;
    EXPECT_EQ(declared, 9u);
}

}  // namespace
}  // namespace kestrel
