#include "app/shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

TEST(PageButtons, ShownButtonsTakeTheSlotsInOrderWithoutGaps) {
    EXPECT_EQ(PageButtonMask(ProductVariant::Raid), 29u);
    EXPECT_EQ(PageButtonMask(ProductVariant::Hybrid), 31u);
    // RAID: no Setup, Upgrade moves into Setup's slot.
    EXPECT_EQ(PageButtonSlots(29), (std::array<int, 5>{0, -1, 1, 2, 3}));
    EXPECT_EQ(PageButtonSlots(31), (std::array<int, 5>{0, 1, 2, 3, 4}));
    EXPECT_EQ(PageButtonSlots(0b10001), (std::array<int, 5>{0, -1, -1, -1, 1}));
}

TEST(ProductVariant, TitlesFollowTheVariant) {
    DriveTable drives;
    Shell raid(ProductVariant::Raid, drives);
    EXPECT_EQ(raid.Model().baseTitle, "RAID GUI V0.23.6");
    EXPECT_EQ(raid.Model().caption, "RAID GUI V0.23.6");
    EXPECT_EQ(raid.Model().aboutText, "RAID Management Sofeware");
    Shell hybrid(ProductVariant::Hybrid, drives);
    EXPECT_EQ(hybrid.Model().baseTitle, "HyBrid GUI V0.23.6");
    EXPECT_EQ(hybrid.Model().aboutText, "Hybrid Management Sofeware");
}

// A shell with the hooks recorded, as the main module would wire them.
struct Fixture {
    DriveTable drives;
    Shell shell{ProductVariant::Hybrid, drives};
    std::vector<std::string> calls;
    Fixture() {
        ShellHooks& h = shell.Hooks();
        h.drawStatusPage = [this](bool force) { calls.push_back(force ? "draw forced" : "draw"); };
        h.buildDeviceLabels = [this] { calls.push_back("labels"); };
        h.clearPollCounter = [this](int s) { calls.push_back("counter " + std::to_string(s)); };
        h.loadScheduleControls = [this] { calls.push_back("schedule"); };
        h.showEmailPage = [this] { calls.push_back("email"); };
    }
    void ClickAllPages() {
        shell.Image_SetupClick();
        shell.Image_FWUpgClick();
        shell.Image_EmailClick();
        shell.Image_AboutClick();
        shell.Image_StsClick();
    }
};

TEST(PageClicks, IgnoredBeforeTheFirstStatusPageAndWhileLocked) {
    Fixture f;
    f.shell.Model().currentPage = kPageAbout;
    f.ClickAllPages();
    EXPECT_EQ(f.shell.Model().currentPage, kPageAbout);
    EXPECT_TRUE(f.calls.empty());

    f.shell.Model().firstStatusPending = false;
    f.drives.LockedEnclosure = 1;
    f.ClickAllPages();
    EXPECT_EQ(f.shell.Model().currentPage, kPageAbout);
    EXPECT_TRUE(f.calls.empty());

    f.drives.LockedEnclosure = DriveTable::kNoEnclosure;
    f.shell.Image_EmailClick();
    EXPECT_EQ(f.shell.Model().currentPage, kPageEmail);
    EXPECT_EQ(f.calls, std::vector<std::string>{"email"});
}

TEST(PageClicks, StatusAndUpgradeSelectTheirPagesSlot) {
    Fixture f;
    f.shell.Model().firstStatusPending = false;
    f.shell.Model().statusPageDevice = 1;
    f.shell.Model().upgradePageDevice = 0;
    f.shell.Image_StsClick();
    EXPECT_EQ(f.drives.SelectedEnclosure, 1u);
    EXPECT_EQ(f.calls.back(), "draw");  // the page button does not force
    f.shell.Image_FWUpgClick();
    EXPECT_EQ(f.shell.Model().currentPage, kPageUpgrade);
    EXPECT_EQ(f.drives.SelectedEnclosure, 0u);
}

TEST(DeviceSlots, UncheckingTheOnlyCheckedSlotHidesItsPicturesAndRedrawsThePage) {
    Fixture f;
    f.shell.Model().deviceChecked = {true, false};
    f.shell.Model().slotPicturesVisible = {true, false};
    f.drives.SelectedEnclosure = 0;
    f.shell.SetDeviceChecked(0, false);
    EXPECT_FALSE(f.shell.Model().slotPicturesVisible[0]);
    EXPECT_EQ(f.drives.SelectedEnclosure, 0u);
    // Only the Status page is redrawn, to say that nothing is monitored.
    EXPECT_EQ(f.calls, (std::vector<std::string>{"draw forced"}));
}

TEST(DeviceSlots, UncheckingOneOfTwoMovesTheStatusPageToTheOther) {
    Fixture f;
    f.shell.Model().deviceChecked = {true, true};
    f.shell.Model().slotPicturesVisible = {true, true};
    f.shell.SetDeviceChecked(0, false);
    EXPECT_EQ(f.shell.Model().statusPageDevice, 1);
    EXPECT_EQ(f.drives.SelectedEnclosure, 1u);
    EXPECT_EQ(f.calls, (std::vector<std::string>{"counter 0", "labels", "draw forced"}));

    // Checking it again while the other is checked keeps the page where it is.
    f.calls.clear();
    f.shell.SetDeviceChecked(0, true);
    EXPECT_TRUE(f.shell.Model().slotPicturesVisible[0]);
    EXPECT_EQ(f.shell.Model().statusPageDevice, 1);
    EXPECT_EQ(f.calls, (std::vector<std::string>{"counter 0", "labels", "draw forced"}));

    // Setting the same state again is no click at all.
    f.calls.clear();
    f.shell.SetDeviceChecked(0, true);
    EXPECT_TRUE(f.calls.empty());
}

TEST(DeviceSlots, CheckingTheOnlySlotSelectsItAndRedrawsOnlyOnTheStatusPage) {
    Fixture f;
    f.shell.Model().currentPage = kPageAbout;
    f.shell.SetDeviceChecked(1, true);
    EXPECT_EQ(f.shell.Model().statusPageDevice, 1);
    EXPECT_EQ(f.drives.SelectedEnclosure, 1u);
    EXPECT_EQ(f.calls, (std::vector<std::string>{"counter 1", "labels"}));
}

TEST(DeviceSlots, StatusPageSlotClickForcesARedrawWithSlotSwitching) {
    Fixture f;
    bool switchingDuringDraw = false;
    f.shell.Hooks().drawStatusPage = [&](bool) { switchingDuringDraw = f.shell.Model().slotSwitching; };
    f.shell.Image0_D2Click();
    EXPECT_EQ(f.shell.Model().statusPageDevice, 1);
    EXPECT_EQ(f.drives.SelectedEnclosure, 1u);
    EXPECT_TRUE(switchingDuringDraw);
    EXPECT_FALSE(f.shell.Model().slotSwitching);
}

TEST(DeviceSlots, UpgradePageSlotIgnoredWhileLocked) {
    Fixture f;
    f.drives.LockedEnclosure = 0;
    f.shell.Image2_D2Click();
    EXPECT_EQ(f.shell.Model().upgradePageDevice, 0);
    f.drives.LockedEnclosure = DriveTable::kNoEnclosure;
    f.shell.Image2_D2Click();
    EXPECT_EQ(f.shell.Model().upgradePageDevice, 1);
    EXPECT_EQ(f.drives.SelectedEnclosure, 1u);
}

}  // namespace
}  // namespace kestrel
