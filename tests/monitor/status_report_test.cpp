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

TEST(StatusReport, PrometheusSeriesFollowTheNamingConventions) {
    const std::string m = StatusPrometheus(ReportFromDrives(OneEnclosure(Healthy().activity(0x02).progress(40)), {true}));
    for (const std::string& line : std::vector<std::string>{
             "kestrel_status_code 1",
             "kestrel_enclosure_info{slot=\"1\",model=\"KESTREL \\\"DUAL\\\" RAID\",firmware=\"100126.1.R1A\","
             "raid_mode=\"Mirroring(RAID1)\"} 1",
             "kestrel_enclosure_state{slot=\"1\",state=\"rebuilding\"} 1",
             "kestrel_enclosure_state{slot=\"1\",state=\"normal\"} 0",
             "kestrel_enclosure_up{slot=\"1\"} 1",
             "kestrel_disk_info{slot=\"1\",disk=\"HDD2\",model=\"WDC WD10EZEX\",serial=\"WD-2\","
             "capacity_bytes=\"1000204886016\"} 1",
             "kestrel_disk_state{slot=\"1\",disk=\"HDD2\",state=\"present\"} 1",
             "kestrel_disk_state{slot=\"1\",disk=\"HDD2\",state=\"failed\"} 0",
             "kestrel_progress_ratio{slot=\"1\",disk=\"HDD2\",operation=\"rebuild\"} 0.4",
             "kestrel_temperature_celsius{slot=\"1\"} 38", "kestrel_last_poll_timestamp_seconds 0"})
        EXPECT_NE(m.find(line + "\n"), std::string::npos) << line << "\n" << m;
    EXPECT_EQ(m.find("percent"), std::string::npos);
}

// An enclosure whose state is not known now says so and invents nothing:
// its table still holds an old record (or none, which reads as RAID0 with
// two empty bays).
TEST(StatusReport, NothingIsMadeUpForAnEnclosureNotAnsweringOrNotMonitored) {
    const DriveTable t = OneEnclosure(Healthy().diskState(0x82));
    StatusReport silent;
    silent.enclosures = {ReportEnclosure(t, 0, false)};
    StatusReport unticked;
    unticked.enclosures = {ReportEnclosure(t, 0, true, false)};
    EXPECT_EQ(silent.enclosures[0].firmware, "100126.1");  // its code is in the record
    EXPECT_EQ(StatusExitCode(silent), 2);
    EXPECT_EQ(StatusExitCode(unticked), 3);  // nothing monitored: nothing read
    // Beside a normal enclosure, an unticked one changes nothing.
    StatusReport both = ReportFromDrives(OneEnclosure(Healthy()), {true});
    both.enclosures.push_back(unticked.enclosures[0]);
    both.enclosures.back().slot = 2;
    EXPECT_EQ(StatusExitCode(both), 0);

    for (const StatusReport* r : {&silent, &unticked}) {
        const std::string name = r == &silent ? "Not answering" : "Not monitored";
        const std::string m = StatusPrometheus(*r);
        for (const char* absent : {"kestrel_disk_info{", "kestrel_disk_state{", "kestrel_disk_capacity_bytes{",
                                   "kestrel_fan_rpm{", "kestrel_temperature_celsius{", "Mirroring", "WD-2"})
            EXPECT_EQ(m.find(absent), std::string::npos) << absent << "\n" << m;
        EXPECT_NE(m.find(r == &silent ? "state=\"not_answering\"} 1" : "state=\"not_monitored\"} 1"), std::string::npos) << m;
        EXPECT_NE(m.find("raid_mode=\"\"} 1"), std::string::npos) << m;

        const std::string json = StatusJson(*r);
        for (const char* part : {"\"mode\": null", "\"disks\": null", "\"sensors\": null", "\"formatVersion\": 2"})
            EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
        EXPECT_NE(json.find("\"state\": \"" + name + "\""), std::string::npos) << json;
        EXPECT_EQ(json.find("WD-2"), std::string::npos) << json;
        std::string error;
        const std::optional<StatusReport> back = ParseStatusJson(json, error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(StatusJson(*back), json);
        EXPECT_EQ(StatusExitCode(*back), StatusExitCode(*r));

        const std::string text = StatusText(*r);
        EXPECT_NE(text.find("mode unknown: " + name), std::string::npos) << text;
        EXPECT_EQ(text.find("failed"), std::string::npos) << text;
    }
    EXPECT_NE(StatusJson(unticked).find("\"code\": null"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
