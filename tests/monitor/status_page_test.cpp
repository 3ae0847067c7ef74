#include "monitor/status_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "app/shell.h"
#include "support/recording_ui.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

struct Page {
    explicit Page(ProductVariant variant = ProductVariant::Raid) : shell(variant, drives), page(variant, drives, shell, boxes, links()) {
        shell.Model().deviceChecked = {true, false};
        drives.EnclosureCount = 1;
        drives.EnclosureFlags[0] = 0x42;
        Revision(0, "100126.1");  // reports scans and fan and temperature
    }
    // The firmware revision of the enclosure in slot (drive 2 + slot).
    void Revision(unsigned slot, const std::string& revision) {
        drives.KnownIdentify[2 + slot] = testing::IdentifyBlock("KESTREL RAID BOX", revision);
    }
    StatusPageLinks links() {
        StatusPageLinks l;
        l.startRebuild = [this](int slot) { rebuilds.push_back(slot); };
        l.autoScanClicked = [this] { ++autoScanClicks; };
        return l;
    }
    StatusPageUpdate Draw(const Block512& record, bool force = false) {
        drives.CurrentStatus[2] = record;
        return page.DrawStatusPage(force);
    }
    DriveTable drives;
    Shell shell;
    testing::RecordingMessageBoxes boxes;
    std::vector<int> rebuilds;  // slot of each rebuild started
    int autoScanClicks = 0;
    StatusPage page;
};

Record Healthy() {
    return Record()
        .diskState(0x22)
        .mode(1)
        .capacity(976773168)
        .disk(0, "WDC WD5000AAKS", "WD-1", 976773168)
        .disk(1, "ST3500418AS", "9VM1", 976773168)
        .firmwareCode("C01")
        .env(0xA0)
        .fan(2980)
        .temperature(41)
        .options(0x01);
}

TEST(StatusPage, NothingIsDrawnWithoutACheckedDevice) {
    Page p;
    p.shell.Model().deviceChecked = {false, false};
    const StatusPageUpdate u = p.Draw(Healthy());
    EXPECT_EQ(u.result, -1);
    EXPECT_EQ(u.stateText, "Not monitored") << "the last state drawn no longer holds";
    EXPECT_FALSE(u.stateLevel.has_value());
    EXPECT_TRUE(p.shell.Model().firstStatusPending);
}

TEST(StatusPage, StateTextFollowsThePresentBits) {
    Page p;
    EXPECT_EQ(p.Draw(Record(Healthy()).diskState(0x22)).stateText, "Normal");
    EXPECT_EQ(p.Draw(Record(Healthy()).diskState(0x24)).stateText, "Single HDD\nPresent");
    const StatusPageUpdate failure = p.Draw(Record(Healthy()).diskState(0x44));
    EXPECT_EQ(failure.stateText, "Failure");
    // The headline takes the severity the tray gives the state.
    EXPECT_EQ(failure.stateLevel, HealthLevel::Alarm);
    EXPECT_EQ(failure.diskInBay, (std::array<bool, 2>{false, false}));
    EXPECT_EQ(p.Draw(Record(Healthy()).diskState(0x22)).stateLevel, HealthLevel::Normal);
    EXPECT_EQ(p.Draw(Record(Healthy()).diskState(0x24)).stateLevel, HealthLevel::Attention);
    EXPECT_EQ(p.Draw(Record(Healthy()).activity(0x02).progress(11)).stateLevel, HealthLevel::Attention);
    EXPECT_FALSE(p.shell.Model().firstStatusPending);
}

TEST(StatusPage, FirstDrawShowsEverythingOfTheRecord) {
    Page p;
    const StatusPageUpdate u = p.Draw(Healthy(), true);
    EXPECT_EQ(u.result, 0);
    EXPECT_EQ(u.firmware, "100126.1.C01");
    EXPECT_EQ(u.mode, "Mirroring(RAID1)");
    EXPECT_EQ(u.systemCapacity, "465 GB");
    EXPECT_EQ(u.disks[0].capacity, "465 GB\n");
    EXPECT_EQ(u.disks[0].model, "WDC WD5000AAKS                          ");
    EXPECT_EQ(u.disks[0].capacityColour, TextColour::Navy);
    EXPECT_EQ(u.disks[1].modelEnabled, true);
    EXPECT_EQ(u.fanSpeed, "2980");
    EXPECT_EQ(u.temperature, "41");
    EXPECT_EQ(u.fanColour, TextColour::Blue);
    EXPECT_TRUE(u.environmentVisible);
}

TEST(StatusPage, EnvironmentPanelNeedsCapabilityAndReportingFlags) {
    Page p;
    const StatusPageUpdate alarm = p.Draw(Record(Healthy()).env(0xA5));
    EXPECT_TRUE(alarm.environmentVisible);
    EXPECT_EQ(alarm.fanColour, TextColour::Red);
    EXPECT_EQ(alarm.temperatureColour, TextColour::Red);
    EXPECT_FALSE(p.Draw(Record(Healthy()).env(0xAA)).environmentVisible);
    EXPECT_FALSE(p.Draw(Record(Healthy()).env(0x50)).environmentVisible);
    p.Revision(0, "100125.1");  // firmware without the panel
    EXPECT_FALSE(p.Draw(Record(Healthy()).env(0xA0).sensorSupport(0x00)).environmentVisible);
    EXPECT_TRUE(p.Draw(Record(Healthy()).env(0xA1).sensorSupport(0x11)).environmentVisible)
        << "its sensors report (and may alarm): their values are shown";
}

TEST(StatusPage, DisksAreRedrawnOnlyWhenTheirStateChanges) {
    Page p;
    EXPECT_TRUE(p.Draw(Record(Healthy()).diskState(0x22).activity(0x02).progress(10)).disksRedrawn);
    const StatusPageUpdate next = p.Draw(Record(Healthy()).diskState(0x22).activity(0x02).progress(11));
    EXPECT_FALSE(next.disksRedrawn);
    EXPECT_FALSE(next.systemCapacity.has_value());
    EXPECT_EQ(next.stateText, "11%\n>>>>\nRebuilding");
    // Same percent again: the state text is left as it is.
    EXPECT_FALSE(p.Draw(Record(Healthy()).diskState(0x22).activity(0x02).progress(11)).stateText.has_value());
    EXPECT_EQ(p.Draw(Record(Healthy()).activity(0x02).progress(100)).stateText, "100%\n>>>>\nRebuilding");
    EXPECT_TRUE(p.Draw(Record(Healthy()), /*force=*/true).disksRedrawn);
}

// Two enclosures: slot 0 on drive 2, slot 1 on drive 3.
struct TwoSlots : Page {
    TwoSlots() {
        shell.Model().deviceChecked = {true, true};
        drives.EnclosureCount = 2;
        drives.EnclosureFlags[1] = 0x43;
    }
    StatusPageUpdate Show(int slot, const Block512& record, bool force) {
        shell.Model().statusPageDevice = slot;
        drives.CurrentStatus[slot == 0 ? 2 : 3] = record;
        return page.DrawStatusPage(force);
    }
};

TEST(StatusPage, ASlotSwitchRedrawsTheProgressEvenWhenThePercentMatches) {
    TwoSlots p;
    EXPECT_EQ(p.Show(0, Record(Healthy()).activity(0x02).progress(40), true).stateText, "40%\n>>>>\nRebuilding");
    // The other enclosure rebuilds onto HDD1 at the same percent.
    EXPECT_EQ(p.Show(1, Record(Healthy()).activity(0x01).progress(40), true).stateText, "40%\n<<<<\nRebuilding");
    // Back, and this time by a redraw that is not forced.
    EXPECT_EQ(p.Show(0, Record(Healthy()).activity(0x02).progress(40), false).stateText, "40%\n>>>>\nRebuilding");
    const StatusPageUpdate same = p.Show(0, Record(Healthy()).activity(0x02).progress(40), false);
    EXPECT_FALSE(same.stateText.has_value()) << "same slot, same percent: left alone";
    EXPECT_FALSE(same.disksRedrawn);
}

TEST(StatusPage, AnInsertedDiskNeverKeepsTheOtherSlotsText) {
    TwoSlots p;
    // Slot 0's HDD2 is shown, then only inserted: it keeps its text.
    EXPECT_EQ(p.Show(0, Record(Healthy()).diskState(0x22), true).disks[1].model->substr(0, 11), "ST3500418AS");
    EXPECT_FALSE(p.Show(0, Record(Healthy()).diskState(0x12), false).disks[1].model.has_value());
    // Slot 1 shows another disk.
    const Record other = Record(Healthy()).disk(1, "ST2000DM001-1CH164", "Z1E", 3907029168);
    EXPECT_EQ(p.Show(1, other, true).disks[1].model->substr(0, 18), "ST2000DM001-1CH164");
    // Back on slot 0, the inserted disk shows slot 0's text again.
    const StatusPageUpdate back = p.Show(0, Record(Healthy()).diskState(0x12), true);
    ASSERT_TRUE(back.disks[1].model.has_value());
    EXPECT_EQ(back.disks[1].model->substr(0, 11), "ST3500418AS");
    EXPECT_EQ(back.disks[1].capacity, "465 GB\n");
    // A slot never drawn before has no text of its own: the labels empty.
    TwoSlots q;
    q.Show(1, other, true);
    const StatusPageUpdate fresh = q.Show(0, Record(Healthy()).diskState(0x12), true);
    EXPECT_EQ(fresh.disks[1].model, "");
    EXPECT_EQ(fresh.disks[1].capacity, "");
}

TEST(StatusPage, ScansNeedScanReportingFirmware) {
    Page p;
    EXPECT_EQ(p.Draw(Record(Healthy()).activity(0x81).progress(5)).stateText, "5%\nHDD1 Scan");
    EXPECT_TRUE(p.Draw(Record(Healthy()).activity(0x81).progress(6)).showLogButton);
    p.Revision(0, "090618.0");  // firmware that does not report scans
    EXPECT_EQ(p.Draw(Record(Healthy()).activity(0x81).progress(7)).stateText, "7%\n<<<<\nRebuilding");
}

TEST(StatusPage, AbsentFailedAndEmptyDisks) {
    Page p;
    StatusPageUpdate u = p.Draw(Record(Healthy()).diskState(0x84), true);
    EXPECT_EQ(u.disks[0].capacityEnabled, false);
    EXPECT_EQ(u.disks[0].model, "") << "a pulled disk's model is not drawn in its empty bay";
    EXPECT_EQ(u.disks[0].capacity, "");
    EXPECT_EQ(u.diskInBay, (std::array<bool, 2>{false, true}));
    EXPECT_EQ(u.disks[1].capacityColour, TextColour::Red);
    EXPECT_EQ(u.disks[1].capacityEnabled, true);
    EXPECT_EQ(u.disks[1].modelEnabled, false);

    Record noSerial = Record(Healthy()).diskState(0x04);
    std::fill_n(noSerial.b.begin() + testing::at::kDisk1Serial, testing::at::kSerialLength, 0);
    u = p.Draw(noSerial, true);
    EXPECT_EQ(u.disks[0].model, "") << "an absent disk, with or without a serial";
    EXPECT_EQ(u.disks[1].model, "") << "HDD2 with no state bit is emptied";

    u = p.Draw(Record(Healthy()).diskState(0x12), true);
    EXPECT_FALSE(u.disks[1].capacity.has_value()) << "an inserted disk keeps its texts";
}

TEST(StatusPage, DeviceTextOfModelAndSerialIsMadeSafe) {
    Page p(ProductVariant::Hybrid);
    Record r = Healthy();
    testing::PutAta(r.b, testing::at::kDisk1Model, 40, std::string("AB\x01\xff\r", 5));
    EXPECT_EQ(p.Draw(r, true).disks[0].model->substr(0, 6), "AB?\xc3\xbf ");
    testing::PutAta(r.b, testing::at::kDisk1Serial, 20, "S\x1b[2J\xe9");
    p.Draw(Record(r).diskState(0x28), true);
    ASSERT_FALSE(p.boxes.shown.empty());
    EXPECT_EQ(p.boxes.shown[0].text, "Unmatched SSD is inserted.\nThe Matched SSD's Serial# is S?[2J\xc3\xa9" +
                                         std::string(14, ' '));
}

TEST(StatusPage, HybridAsksOncePerHdd1FailureWithoutWaitingAndStartsTheRebuildOnYes) {
    Page p(ProductVariant::Hybrid);
    const Record failed = Record(Healthy()).diskState(0x28).options(0x04);
    const StatusPageUpdate u = p.Draw(failed, true);
    EXPECT_EQ(u.mode, "Scheduling Sync") << "the redraw went on while the box waits";
    ASSERT_EQ(p.boxes.shown.size(), 1u);
    EXPECT_EQ(p.boxes.shown[0].text, "Unmatched SSD is inserted.\nThe Matched SSD's Serial# is WD-1                ");
    EXPECT_EQ(p.boxes.shown[0].caption, "Message");
    // The question comes once the notice is acknowledged.
    ASSERT_TRUE(p.boxes.Answer("Unmatched SSD", MessageAnswer::Ok));
    ASSERT_EQ(p.boxes.shown.size(), 2u);
    EXPECT_EQ(p.boxes.shown[1].text,
              "Do you want to restore data from HDD to SSD?\nThe SSD's contents will be overwritten.");
    EXPECT_EQ(p.boxes.shown[1].caption, "Message");
    EXPECT_EQ(p.boxes.shown[1].buttons, MessageButtons::YesNo);
    p.Draw(failed, true);
    EXPECT_EQ(p.boxes.shown.size(), 2u) << "same failure episode: no second prompt";
    ASSERT_TRUE(p.boxes.Answer("Do you want", MessageAnswer::Yes));
    EXPECT_EQ(p.rebuilds, std::vector<int>{0});

    p.Draw(Record(Healthy()).diskState(0x22), true);
    p.Draw(Record(Healthy()).diskState(0x28).activity(0x10), true);
    ASSERT_EQ(p.boxes.shown.size(), 3u);
    EXPECT_EQ(p.boxes.shown[2].text,
              "Matched SSD is inserted.\nPlease power off this device or the system,\nand power on it to start rebuilding.");
}

TEST(StatusPage, TheRestoreAnswerActsOnlyOnTheEnclosureThatAsked) {
    // Each case changes something between the question and the answer.
    const std::vector<std::pair<std::string, std::function<void(Page&)>>> cases = {
        {"unchanged", [](Page&) {}},
        {"enclosure gone", [](Page& p) { p.drives.EnclosureCount = 0; }},
        {"another enclosure in the slot", [](Page& p) { p.drives.KnownIdentify[2][54] ^= 1; }},
        {"the disk was replaced", [](Page& p) { p.drives.CurrentStatus[2] = Record(Healthy()).diskState(0x22); }},
        {"another failed disk", [](Page& p) { p.drives.CurrentStatus[2] = Record(Healthy()).diskState(0x28).disk(0, "X", "OTHER", 1); }},
    };
    for (const auto& [name, change] : cases) {
        Page p(ProductVariant::Hybrid);
        p.Draw(Record(Healthy()).diskState(0x28), true);
        ASSERT_TRUE(p.boxes.Answer("Unmatched SSD", MessageAnswer::Ok)) << name;
        change(p);
        ASSERT_TRUE(p.boxes.Answer("Do you want", MessageAnswer::Yes)) << name;
        EXPECT_EQ(p.rebuilds.size(), name == "unchanged" ? 1u : 0u) << name;
    }
    Page p(ProductVariant::Hybrid);
    p.Draw(Record(Healthy()).diskState(0x28), true);
    ASSERT_TRUE(p.boxes.Answer("Unmatched SSD", MessageAnswer::Ok));
    ASSERT_TRUE(p.boxes.Answer("Do you want", MessageAnswer::No));
    EXPECT_TRUE(p.rebuilds.empty());
}

TEST(StatusPage, Hdd2FailurePromptsOnEveryRedrawButNeverStacksTheSameBox) {
    Page p(ProductVariant::Raid);
    p.Draw(Record(Healthy()).diskState(0x82), true);
    p.Draw(Record(Healthy()).diskState(0x82), true);
    ASSERT_EQ(p.boxes.shown.size(), 1u) << "the first box is still open";
    EXPECT_EQ(p.boxes.shown[0].text.substr(0, 26), "Unmatched SSD is inserted.");
    ASSERT_TRUE(p.boxes.Answer("Unmatched SSD", MessageAnswer::Ok));
    p.Draw(Record(Healthy()).diskState(0x82), true);
    ASSERT_EQ(p.boxes.shown.size(), 2u) << "answered, so the next redraw shows it again";
    p.Draw(Record(Healthy()).diskState(0x82).activity(0x80), true);
    EXPECT_EQ(p.boxes.shown.size(), 2u) << "a too-small disk on HDD2 gives no box";
    p.Draw(Record(Healthy()).diskState(0x28), true);
    EXPECT_EQ(p.boxes.shown.size(), 2u) << "the RAID variant does not prompt for HDD1";
}

TEST(StatusPage, OptionBoxesFollowTheRecordOnlyWhenTheyDiffer) {
    Page p;
    // The first draw of a slot is a switch to it: the boxes follow silently.
    p.Draw(Record(Healthy()).options(0x03));
    EXPECT_FALSE(p.page.BuzzerMute());
    EXPECT_TRUE(p.page.AutoScan());
    EXPECT_EQ(p.autoScanClicks, 0);
    p.Draw(Record(Healthy()).options(0x03));
    EXPECT_EQ(p.autoScanClicks, 0);
    // The controller changed its bit between two draws of the same slot.
    p.Draw(Record(Healthy()).options(0x00));
    EXPECT_TRUE(p.page.BuzzerMute());
    EXPECT_EQ(p.autoScanClicks, 1);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(StatusPage, HealthLineNamesASensorAlarmWhileItLastsAndKeepsTheStateText) {
    Page p;
    const StatusPageUpdate fan = p.Draw(Record(Healthy()).sensorSupport(0x11).env(0xA1), true);
    EXPECT_EQ(fan.stateText, "Normal");
    EXPECT_EQ(fan.healthLine, "Fan failure");
    const StatusPageUpdate both = p.Draw(Record(Healthy()).sensorSupport(0x11).env(0xA5).temperature(63));
    EXPECT_EQ(both.healthLine, "Fan failure, Over temperature: 63 \xC2\xB0" "C");
    EXPECT_EQ(p.Draw(Record(Healthy()).sensorSupport(0x11).env(0xA0)).healthLine, "");
    // Flags without the sensor report raise no alert, and no line either.
    EXPECT_EQ(p.Draw(Record(Healthy()).sensorSupport(0x00).env(0xA5)).healthLine, "");
}

}  // namespace
}  // namespace kestrel
