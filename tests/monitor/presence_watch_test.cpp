#include "monitor/presence_watch.h"

#include <gtest/gtest.h>

#include "app/shell.h"
#include "platform/headless_ui.h"

namespace kestrel {
namespace {

struct Watch {
    Watch() {
        PresenceLinks links;
        links.commitDetection = [this] {
            ++commits;
            drives.EnclosureCount = drives.ProbeCount;
        };
        links.buildDeviceLabels = [this] { ++labels; };
        links.countLogicalDrives = [this] {
            ++counts;
            return logical;
        };
        links.countPhysicalDrives = [this] { return physical; };
        links.startMonitoring = [this] { monitoring = true; };
        links.stopTimer3 = [this] { timer3Stopped = true; };
        watch = std::make_unique<PresenceWatch>(flags, drives, shell, bar, links);
    }
    SchedulerFlags flags;
    DriveTable drives;
    Shell shell{ProductVariant::Raid, drives};
    MemoryStatusBar bar;
    int commits = 0, labels = 0, counts = 0;
    int logical = 0, physical = 0;
    bool monitoring = false, timer3Stopped = false;
    std::unique_ptr<PresenceWatch> watch;
};

TEST(Timer4, BlinksWhileTheDetectionRuns) {
    Watch w;
    w.flags.DetectPending = 1;
    ASSERT_TRUE(w.shell.Model().detectTextVisible);
    w.watch->Timer4Timer();
    EXPECT_FALSE(w.shell.Model().detectTextVisible);
    w.watch->Timer4Timer();
    EXPECT_TRUE(w.shell.Model().detectTextVisible);
    EXPECT_EQ(w.commits, 0);
}

TEST(Timer4, CommitWithEnclosuresEnablesTheWindowAndStartsMonitoring) {
    Watch w;
    w.flags.Probing = 1;
    w.flags.DetectDone = 1;
    w.drives.ProbeCount = 2;
    w.watch->Timer4Timer();
    const ShellModel& m = w.shell.Model();
    EXPECT_EQ(w.commits, 1);
    EXPECT_EQ(w.bar.Panel(1), "Detected OK");
    EXPECT_EQ(w.bar.Panel(2), " ");
    EXPECT_EQ(m.deviceChecked, (std::array<bool, 2>{true, true}));
    EXPECT_EQ(m.slotPicturesVisible, (std::array<bool, 2>{true, true}));
    EXPECT_TRUE(m.pageButtonsEnabled);
    EXPECT_TRUE(m.upgradeEnabled);
    EXPECT_TRUE(m.logButtonVisible);
    EXPECT_FALSE(m.detectTextVisible);
    EXPECT_EQ(m.detectText, " ");
    EXPECT_EQ(w.labels, 1);
    EXPECT_TRUE(w.monitoring);
    EXPECT_EQ(w.flags.RefreshFlags.load(), 0x11);
    EXPECT_EQ(w.flags.Probing.load(), 0);
    EXPECT_EQ(w.flags.DetectDone.load(), 0);
    EXPECT_TRUE(m.firstStatusPending) << "no box click handler ran, nothing was drawn";
}

TEST(Timer4, CommitWithoutEnclosuresSaysSoAndNeverMonitors) {
    Watch w;
    w.flags.DetectDone = 1;
    w.shell.Model().deviceChecked = {true, true};
    w.watch->Timer4Timer();
    const ShellModel& m = w.shell.Model();
    EXPECT_EQ(m.detectText, "No Drive found! ");
    EXPECT_TRUE(m.detectTextVisible);
    EXPECT_FALSE(m.pageButtonsEnabled);
    EXPECT_FALSE(m.deviceChecked[0]);
    EXPECT_FALSE(m.deviceBoxVisible[1]);
    EXPECT_TRUE(w.timer3Stopped);
    EXPECT_FALSE(w.monitoring);
    EXPECT_EQ(w.flags.RefreshFlags.load(), 0);
    // Nothing blinks afterwards.
    w.watch->Timer4Timer();
    EXPECT_TRUE(m.detectTextVisible);
}

// Ticks Timer4 until a count check happened; returns the number of ticks.
int TicksUntilCountCheck(Watch& w, int limit = 100) {
    for (int tick = 1; tick <= limit; ++tick) {
        const int before = w.counts;
        w.watch->Timer4Timer();
        if (w.counts != before) return tick;
    }
    return -1;
}

TEST(Timer4, ABurstOfDeviceChangesLeadsToOneCheckFiveSecondsAfterTheLast) {
    Watch w;
    w.watch->DeviceChanged();
    for (int i = 0; i < 6; ++i) w.watch->Timer4Timer();
    w.watch->DeviceChanged();  // the wait starts again
    for (int i = 0; i < 3; ++i) w.watch->Timer4Timer();
    w.watch->DeviceChanged();
    EXPECT_EQ(TicksUntilCountCheck(w), 11) << "ten ticks of 500 ms to 26, then the check";
    EXPECT_EQ(w.counts, 1);
    EXPECT_EQ(TicksUntilCountCheck(w, 40), -1) << "one check only";
}

TEST(Timer4, ADeviceChangeThatChangesNoCountRunsNoDetection) {
    Watch w;
    w.drives.LogicalDriveCount = 3;
    w.drives.PhysicalDriveCount = 2;
    w.logical = 3;
    w.physical = 2;
    w.watch->DeviceChanged();
    ASSERT_GT(TicksUntilCountCheck(w), 0);
    EXPECT_EQ(w.flags.DetectRequest.load(), 0);
    EXPECT_EQ(w.flags.Probing.load(), 0);
    EXPECT_TRUE(w.shell.Model().upgradeEnabled);

    w.physical = 3;  // a drive appeared
    w.watch->DeviceChanged();
    ASSERT_GT(TicksUntilCountCheck(w), 0);
    EXPECT_EQ(w.flags.DetectRequest.load(), 1);
    EXPECT_EQ(w.flags.DetectPending.load(), 1);
    EXPECT_EQ(w.flags.Probing.load(), 1);
    EXPECT_EQ(w.drives.PhysicalDriveCount, 3) << "the new counts are the baseline";
}

TEST(Timer4, ACheckWaitsWhileMaintenanceHoldsAnEnclosure) {
    Watch w;
    w.flags.MaintenanceBusy = 1;
    w.watch->DeviceChanged();
    EXPECT_EQ(TicksUntilCountCheck(w, 30), -1);
    EXPECT_EQ(w.flags.DetectCountdown.load(), PresenceWatch::kCountdownEnd);
    EXPECT_TRUE(w.shell.Model().upgradeEnabled);
    w.flags.MaintenanceBusy = 0;
    EXPECT_EQ(TicksUntilCountCheck(w), 1);
}

}  // namespace
}  // namespace kestrel
