// The Setup page's schedule and the settings command: what the controls
// show after loading a record, which changes raise the command, and the
// bytes each command carries, against the simulated enclosure.
#include "maintenance/setup_page.h"

#include <gtest/gtest.h>

#include "app/shell.h"
#include "monitor/status_page.h"
#include "sim/simulated_pc.h"
#include "support/admitted_drives.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

// Slot 0 is enclosure "m" (drive 0), slot 1 enclosure "a" (drive 1).
class SetupPageTest : public ::testing::Test {
protected:
    explicit SetupPageTest(ProductVariant variant = ProductVariant::Hybrid)
        : pc_(testing::ScenarioFrom(testing::kEveryPath)),
          io_(&pc_),
          transport_(io_, boxes_, bar_, Options()),
          shell_(variant, drives_),
          lock_(flags_, drives_, shell_),
          disks_(transport_, lock_, drives_, flags_, shell_, {boxes_, bar_, nullptr, nullptr}),
          setup_(variant, transport_, lock_, drives_, flags_, shell_, disks_),
          status_(variant, drives_, shell_, boxes_,
                  StatusPageLinks{.buzzerMuteClicked = [this] { setup_.OptionBoxClick(); },
                                  .autoScanClicked = [this] { setup_.OptionBoxClick(); },
                                  .startRebuild = nullptr}) {
        testing::AdmitAllDrives(transport_);
        drives_.EnclosureFlags[0] = 0x40;
        drives_.EnclosureFlags[1] = 0x11;
        drives_.EnclosureCount = 2;
        ShellModel& m = shell_.Model();
        m.deviceChecked = {true, true};
        m.firstStatusPending = false;
        ShellHooks& h = shell_.Hooks();
        h.loadScheduleControls = [this] { setup_.LoadScheduleControls(); };
        h.showSetupSubPage = [this] { setup_.ShowSubPage(); };
        h.drawStatusPage = [this](bool force) { status_.DrawStatusPage(force); };
    }
    static TransportOptions Options() {
        TransportOptions o;
        o.pause = [](std::chrono::milliseconds) {};
        return o;
    }
    void SetRecord(unsigned slot, uint8_t options, uint8_t period) {
        drives_.CurrentStatus[drives_.DriveOfSlot(slot)] = Record().diskState(0x22).options(options).backupPeriod(period);
    }
    bool ConfigWriteRaised() const { return (flags_.RefreshFlags.load() & refresh::kConfigWrite) != 0; }
    // Bytes 2..6 of the last settings command the enclosure received.
    std::vector<int> LastCommand(const std::string& enclosure) const {
        const std::vector<Block512> sent = pc_.CommandsOf(enclosure);
        if (sent.empty()) return {};
        const Block512& s = sent.back();
        return {s[2], s[3], s[4], s[5], s[6]};
    }

    sim::SimulatedPc pc_;
    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    Transport transport_;
    DriveTable drives_;
    SchedulerFlags flags_;
    Shell shell_;
    MaintenanceLock lock_;
    DiskOperations disks_;
    SetupPage setup_;
    StatusPage status_;
};

class RaidSetupPageTest : public SetupPageTest {
protected:
    RaidSetupPageTest() : SetupPageTest(ProductVariant::Raid) {}
};

TEST_F(SetupPageTest, AnOddPeriodChecksTenMinutesAndSetSendsTen) {
    SetRecord(0, 0x07, 45);
    shell_.Image_SetupClick();
    EXPECT_EQ(shell_.Model().currentPage, kPageSetup);
    const SetupPageState& s = setup_.State();
    EXPECT_TRUE(s.backupChecked);
    EXPECT_TRUE(s.backupEnabled);
    EXPECT_EQ(s.periodChecked, (std::array<bool, 4>{true, false, false, false}));
    EXPECT_EQ(setup_.BackupPeriod(), 10);
    EXPECT_FALSE(ConfigWriteRaised()) << "checking the box waits for Set";

    setup_.Image1_ScheduleClick();
    EXPECT_EQ(s.subPage, kSetupSchedule);
    EXPECT_TRUE(s.setVisible);
    EXPECT_TRUE(s.backupMessageVisible);
    EXPECT_EQ(s.backupMessage, "Backup period: 45 minutes; Set makes it 10 minutes") << "what Set will change";
    setup_.Image1_SetClick();
    EXPECT_TRUE(ConfigWriteRaised());
    EXPECT_TRUE(io_.calls.empty()) << "the click only raises the bit";
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 1, 10}));
    EXPECT_EQ(s.backupMessage, "Backup period: 10 minutes") << "in the same words as before Set";
    EXPECT_EQ(pc_.StatusOf("m")->at(testing::at::kBackupPeriod), 10);
}

TEST_F(SetupPageTest, RadioButtonsChooseThePeriodSent) {
    SetRecord(0, 0x07, 180);
    shell_.Image_SetupClick();
    EXPECT_EQ(setup_.State().periodChecked, (std::array<bool, 4>{false, false, false, true}));
    setup_.SetPeriodChecked(2);
    EXPECT_EQ(setup_.State().periodChecked, (std::array<bool, 4>{false, false, true, false}));
    EXPECT_EQ(setup_.BackupPeriod(), 60);
    setup_.Image1_ScheduleClick();
    (void)setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice));  // the sector it sent is checked
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 1, 60}));
}

TEST_F(SetupPageTest, UncheckingTheScheduleSendsAtOnceCheckingOnlyShowsSet) {
    SetRecord(0, 0x07, 30);
    shell_.Image_SetupClick();
    setup_.Image1_ScheduleClick();
    flags_.RefreshFlags = 0;

    setup_.SetBackupChecked(false);
    EXPECT_TRUE(ConfigWriteRaised());
    EXPECT_FALSE(setup_.State().setVisible);
    EXPECT_FALSE(setup_.State().backupMessageVisible);
    EXPECT_EQ(setup_.State().backupMessage, "Schedule Backup Disable");
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 0, 0}));
    EXPECT_EQ(pc_.StatusOf("m")->at(testing::at::kOptionFlags) & 0x04, 0) << "the controller's schedule is off";

    flags_.RefreshFlags = 0;
    setup_.SetBackupChecked(true);
    EXPECT_FALSE(ConfigWriteRaised());
    EXPECT_TRUE(setup_.State().setVisible);
    EXPECT_TRUE(setup_.State().backupMessageVisible);
}

TEST_F(SetupPageTest, LoadingAScheduleThatIsOffUnchecksTheBoxAndHidesSet) {
    SetRecord(0, 0x07, 60);
    shell_.Image_SetupClick();
    SetRecord(0, 0x03, 60);
    shell_.Image_StsClick();
    shell_.Image_SetupClick();
    setup_.Image1_ScheduleClick();
    EXPECT_FALSE(setup_.State().backupChecked);
    EXPECT_EQ(setup_.State().periodChecked, (std::array<bool, 4>{}));
    EXPECT_FALSE(setup_.State().setVisible);
    setup_.Image1_InitializeClick();
    EXPECT_TRUE(setup_.State().setVisible) << "Set runs Initialize there";
}

TEST_F(SetupPageTest, BeforeTheScheduleWasLoadedAnOptionBoxKeepsTheControllersSchedule) {
    SetRecord(0, 0x07, 30);
    SetRecord(1, 0x01, 60);
    setup_.OptionBoxClick();
    EXPECT_TRUE(ConfigWriteRaised());
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 1, 30}));
    EXPECT_NE(pc_.StatusOf("m")->at(testing::at::kOptionFlags) & 0x04, 0) << "the schedule stays on";
    // Each enclosure keeps its own.
    shell_.Model().statusPageDevice = 1;
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("a"), (std::vector<int>{0x20, 0, 0, 0, 0}));
}

TEST_F(SetupPageTest, ASettingsCommandForAnotherEnclosureCarriesItsOwnSchedule) {
    SetRecord(0, 0x07, 180);
    SetRecord(1, 0x05, 30);
    shell_.Image_SetupClick();  // loaded from slot 0
    shell_.Image_StsClick();
    shell_.Image0_D2Click();
    setup_.OptionBoxClick();
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("a"), (std::vector<int>{0x20, 0, 0, 1, 30}));
    shell_.Image0_D1Click();
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 1, 180}));
}

TEST_F(RaidSetupPageTest, TheRaidProgramsSettingsCommandsCarryNoSchedule) {
    SetRecord(0, 0x07, 30);
    setup_.OptionBoxClick();
    EXPECT_TRUE(ConfigWriteRaised());
    EXPECT_TRUE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_EQ(LastCommand("m"), (std::vector<int>{0x20, 0, 0, 0, 0}));
}

TEST_F(SetupPageTest, OnlyARealChangeOfTheSameSlotRaisesTheCommandNeverASlotSwitch) {
    SetRecord(0, 0x03, 60);
    SetRecord(1, 0x00, 60);
    shell_.Model().firstStatusPending = true;
    status_.DrawStatusPage(true);
    EXPECT_FALSE(shell_.Model().firstStatusPending);
    EXPECT_FALSE(ConfigWriteRaised());

    shell_.Image0_D2Click();
    shell_.Image0_D1Click();
    shell_.Image0_D2Click();
    EXPECT_FALSE(ConfigWriteRaised()) << "D1/D2";
    shell_.Image0_D1Click();
    shell_.SetDeviceChecked(0, false);  // the page moves to slot 1
    EXPECT_EQ(shell_.Model().statusPageDevice, 1);
    shell_.SetDeviceChecked(0, true);
    shell_.Image0_D1Click();
    EXPECT_FALSE(ConfigWriteRaised()) << "device boxes";

    // The controller's own bit changes between two refreshes of the slot.
    SetRecord(0, 0x01, 60);
    status_.DrawStatusPage(false);
    EXPECT_TRUE(ConfigWriteRaised());
    flags_.RefreshFlags = 0;
    SetRecord(0, 0x00, 60);
    status_.DrawStatusPage(false);
    EXPECT_TRUE(ConfigWriteRaised());
    EXPECT_TRUE(io_.calls.empty());
}

TEST_F(SetupPageTest, NothingIsRaisedOrSentWhileStartingSwitchingOrLocked) {
    SetRecord(0, 0x07, 30);
    shell_.Model().firstStatusPending = true;
    setup_.OptionBoxClick();
    setup_.LoadScheduleControls();
    setup_.SetBackupChecked(false);
    EXPECT_FALSE(ConfigWriteRaised());
    shell_.Model().firstStatusPending = false;

    shell_.Model().slotSwitching = true;
    setup_.OptionBoxClick();
    EXPECT_FALSE(ConfigWriteRaised());
    EXPECT_FALSE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    shell_.Model().slotSwitching = false;

    drives_.LockedEnclosure = 1;
    EXPECT_FALSE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    drives_.LockedEnclosure = DriveTable::kNoEnclosure;
    flags_.MaintenanceBusy = 1;
    setup_.Image1_ScheduleClick();
    setup_.Image1_SetClick();
    setup_.Image1_InitializeClick();
    setup_.Image1_SetClick();
    EXPECT_FALSE(ConfigWriteRaised());
    EXPECT_TRUE(boxes_.shown.empty()) << "Set during an upgrade does nothing";
    EXPECT_TRUE(io_.calls.empty());

    // Without a checked device box nothing is sent and nothing said.
    flags_.MaintenanceBusy = 0;
    shell_.Model().deviceChecked = {false, false};
    EXPECT_FALSE(setup_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice)));
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(io_.calls.empty());
}

}  // namespace
}  // namespace kestrel
