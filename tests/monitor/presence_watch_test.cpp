#include "monitor/presence_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/shell.h"
#include "monitor/worker_threads.h"
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
        links.runTimer4 = [this](bool run) {
            timer4Starts += run && !timer4;
            timer4 = run;
        };
        watch = std::make_unique<PresenceWatch>(flags, drives, shell, bar, links);
    }
    SchedulerFlags flags;
    DriveTable drives;
    Shell shell{ProductVariant::Raid, drives};
    MemoryStatusBar bar;
    int commits = 0, labels = 0, counts = 0;
    int logical = 0, physical = 0;
    bool monitoring = false;
    bool timer4 = false;  // as the module's Timer4 would be
    int timer4Starts = 0;
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
    EXPECT_FALSE(w.timer4) << "nothing left to watch";
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

// Ticks Timer4 for as long as it runs, as its QTimer would; returns the
// number of ticks (limit: it never stopped).
int TicksWhileTimer4Runs(Watch& w, int limit = 200) {
    int ticks = 0;
    while (w.timer4 && ticks < limit) {
        w.watch->Timer4Timer();
        ++ticks;
    }
    return ticks;
}

TEST(Timer4Runs, OnlyWhileADetectionIsInFlightAndCommitsAndBlinksAsBefore) {
    Watch w;
    w.shell.Model().detectText = "Drive detecting";
    ASSERT_TRUE(w.watch->RaiseDetection());  // start-up
    EXPECT_TRUE(w.timer4);
    EXPECT_FALSE(w.watch->RaiseDetection()) << "one detection in flight at a time";
    EXPECT_EQ(w.timer4Starts, 1);
    // The detection runs: the text blinks, shown one tick, hidden the next.
    std::vector<bool> shown;
    for (int i = 0; i < 4; ++i) {
        w.watch->Timer4Timer();
        shown.push_back(w.shell.Model().detectTextVisible);
    }
    EXPECT_EQ(shown, (std::vector<bool>{false, true, false, true}));
    EXPECT_TRUE(w.timer4) << "still in flight";
    // Finished: the next tick commits, then Timer4 stops.
    w.drives.ProbeCount = 1;
    w.flags.DetectionFinished();
    EXPECT_TRUE(w.timer4);
    EXPECT_EQ(TicksWhileTimer4Runs(w), 1);
    EXPECT_EQ(w.commits, 1);
    EXPECT_TRUE(w.monitoring);
    EXPECT_FALSE(w.shell.Model().detectTextVisible);
    EXPECT_EQ(w.flags.RefreshFlags.load(), 0x11);
}

TEST(Timer4Runs, ForTheCountdownOfADeviceChangeDuringIdleAndStopsAfterTheCheck) {
    Watch w;
    w.drives.EnclosureCount = 1;
    w.shell.Model().detectText = " ";  // as the first commit left it
    w.shell.Model().detectTextVisible = false;
    w.logical = w.drives.LogicalDriveCount = 2;
    w.physical = w.drives.PhysicalDriveCount = 2;
    ASSERT_FALSE(w.timer4);
    // A mouse: no count changes, so no detection; the check is tick 11.
    w.watch->DeviceChanged();
    EXPECT_TRUE(w.timer4);
    EXPECT_EQ(TicksWhileTimer4Runs(w), 11);
    EXPECT_EQ(w.counts, 1);
    EXPECT_EQ(w.flags.Probing.load(), 0);
    EXPECT_TRUE(w.shell.Model().upgradeEnabled);

    // A burst: each change restarts the wait, not a second timer.
    w.watch->DeviceChanged();
    for (int i = 0; i < 5; ++i) w.watch->Timer4Timer();
    w.watch->DeviceChanged();
    EXPECT_EQ(w.timer4Starts, 2) << "a running Timer4 keeps its pace";
    // An enclosure came: the check requests a detection and Timer4 runs on
    // through it; with enclosures committed nothing blinks.
    w.physical = 3;
    EXPECT_EQ(TicksUntilCountCheck(w), 11);
    EXPECT_TRUE(w.timer4);
    EXPECT_TRUE(w.flags.DetectionInFlight());
    for (int i = 0; i < 10; ++i) w.watch->Timer4Timer();
    EXPECT_FALSE(w.shell.Model().detectTextVisible) << "nothing blinks";
    EXPECT_TRUE(w.timer4);
    EXPECT_EQ(w.commits, 0);
    ASSERT_TRUE(w.flags.TakeDetectionRequest());
    w.drives.ProbeCount = 2;
    w.flags.DetectionFinished();
    EXPECT_EQ(TicksWhileTimer4Runs(w), 1);
    EXPECT_EQ(w.commits, 1);
    EXPECT_FALSE(w.flags.DetectionInFlight());
}

TEST(Timer4Runs, WhileACheckWaitsForMaintenanceToEnd) {
    Watch w;
    w.flags.MaintenanceBusy = 1;
    w.watch->DeviceChanged();
    EXPECT_EQ(TicksWhileTimer4Runs(w, 40), 40) << "held at 26, looked at every tick";
    EXPECT_EQ(w.flags.DetectCountdown.load(), PresenceWatch::kCountdownEnd);
    w.flags.MaintenanceBusy = 0;
    EXPECT_EQ(TicksWhileTimer4Runs(w), 1);
    EXPECT_EQ(w.counts, 1);
}

// Waits for something another thread does (never a fixed sleep).
template <typename Cond>
bool WaitFor(Cond cond) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cond() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return cond();
}

// A detection that the test holds inside its run until released.
class HeldDetection {
public:
    void Run() {
        std::unique_lock lock(mutex_);
        running_ = true;
        ++runs_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return release_; });
        release_ = false;
        running_ = false;
        changed_.notify_all();
    }
    void WaitRunning() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return running_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        release_ = true;
        changed_.notify_all();
    }
    bool Running() {
        std::lock_guard lock(mutex_);
        return running_;
    }
    int Runs() {
        std::lock_guard lock(mutex_);
        return runs_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    bool release_ = false;
    int runs_ = 0;
};

enum class Step { Requested, Running, Finished, Committed };

TEST(Timer4, ADeviceChangeAtEveryStepOfADetectionWaitsForItsCommitThenDetectsAgain) {
    for (const Step step : {Step::Requested, Step::Running, Step::Finished, Step::Committed}) {
        SCOPED_TRACE(static_cast<int>(step));
        Watch w;
        HeldDetection held;
        bool countedBesideDetection = false;
        bool committedWhileRunning = false;
        // The count links open drives in the program: never beside a detection.
        PresenceLinks links;
        links.countLogicalDrives = [&] {
            ++w.counts;
            countedBesideDetection |= held.Running() || w.flags.DetectionInFlight();
            return w.logical;
        };
        links.countPhysicalDrives = [&] { return w.physical; };
        links.commitDetection = [&] {
            ++w.commits;
            committedWhileRunning |= held.Running();
            w.drives.EnclosureCount = w.drives.ProbeCount;
        };
        w.watch = std::make_unique<PresenceWatch>(w.flags, w.drives, w.shell, w.bar, links);
        // Start-up: baseline one volume and one drive, then the request.
        w.logical = w.physical = 1;
        w.drives.LogicalDriveCount = w.drives.PhysicalDriveCount = 1;
        ASSERT_TRUE(w.flags.RaiseDetection());
        EXPECT_FALSE(w.flags.RaiseDetection()) << "one detection in flight at a time";

        auto changeDevices = [&] {
            w.physical = 2;  // an enclosure came
            w.watch->DeviceChanged();
        };
        auto ticks = [&](int n) {
            for (int i = 0; i < n; ++i) w.watch->Timer4Timer();
        };
        if (step == Step::Requested) {
            changeDevices();
            ticks(30);  // far past the quiet wait
            EXPECT_EQ(w.counts, 0);
        }
        DriveDetectThread thread(w.flags, [&] {
            held.Run();
            w.drives.ProbeCount = 1;
        });
        held.WaitRunning();
        if (step == Step::Running) {
            changeDevices();
            ticks(30);
            EXPECT_EQ(w.counts, 0);
            EXPECT_EQ(w.commits, 0);
            EXPECT_EQ(w.flags.DetectRequest.load(), 0) << "no second request while it runs";
        }
        held.Release();
        ASSERT_TRUE(WaitFor([&] { return w.flags.DetectDone.load() == 1; }));
        if (step == Step::Finished) changeDevices();
        ticks(1);
        EXPECT_EQ(w.commits, 1) << "the finished detection is committed first";
        EXPECT_EQ(w.counts, 0);
        if (step == Step::Committed) changeDevices();

        // The change is looked at after the commit, and detected again.
        for (int i = 0; i < 30 && w.counts == 0; ++i) w.watch->Timer4Timer();
        EXPECT_EQ(w.counts, 1);
        ASSERT_EQ(w.flags.DetectPending.load(), 1);
        held.WaitRunning();
        EXPECT_EQ(w.drives.PhysicalDriveCount, 2);
        ticks(30);
        EXPECT_EQ(w.commits, 1) << "nothing is committed while the second detection runs";
        held.Release();
        ASSERT_TRUE(WaitFor([&] { return w.flags.DetectDone.load() == 1; }));
        ticks(1);
        EXPECT_EQ(w.commits, 2);
        ticks(30);
        EXPECT_EQ(held.Runs(), 2);
        EXPECT_EQ(w.counts, 1);
        EXPECT_FALSE(countedBesideDetection);
        EXPECT_FALSE(committedWhileRunning);
        EXPECT_EQ(w.flags.Probing.load(), 0);
        EXPECT_FALSE(w.flags.DetectionInFlight());
    }
}

TEST(Timer4, ACommitThatLosesTheShownSlotMovesThePagesToOneThatExists) {
    Watch w;
    int forcedDraws = 0;
    std::vector<int> upgradeShown;
    PresenceLinks links;
    links.commitDetection = [&] { w.drives.EnclosureCount = w.drives.ProbeCount; };
    links.buildDeviceLabels = [&] { ++w.labels; };
    links.drawStatusPage = [&](bool force) { forcedDraws += force; };
    links.showUpgradeFirmware = [&](int slot) { upgradeShown.push_back(slot); };
    w.watch = std::make_unique<PresenceWatch>(w.flags, w.drives, w.shell, w.bar, links);
    ShellModel& m = w.shell.Model();
    // D2 shown on both pages, the status page drawn, D1's reads failing.
    m.firstStatusPending = false;
    m.deviceChecked = {true, true};
    m.statusPageDevice = 1;
    m.upgradePageDevice = 1;
    w.drives.EnclosureCount = 2;
    w.flags.PollBackoff = {5, 3};

    w.drives.ProbeCount = 1;  // D2 was unplugged
    w.flags.DetectDone = 1;
    w.watch->Timer4Timer();
    EXPECT_EQ(m.statusPageDevice, 0);
    EXPECT_EQ(m.upgradePageDevice, 0);
    EXPECT_EQ(upgradeShown, std::vector<int>{0});
    EXPECT_EQ(forcedDraws, 1) << "the page shows the slot that is left";
    EXPECT_EQ(w.labels, 1);
    EXPECT_EQ(w.flags.PollBackoff[0], 0) << "a slot filled by the commit starts afresh";

    // D2 back: the pages stay where they are, its counter starts at 0.
    w.flags.PollBackoff = {0, 9};
    w.drives.ProbeCount = 2;
    w.flags.DetectDone = 1;
    w.watch->Timer4Timer();
    EXPECT_EQ(m.statusPageDevice, 0);
    EXPECT_EQ(forcedDraws, 1);
    EXPECT_EQ(w.flags.PollBackoff[1], 0);

    // Before the first status page nothing is drawn (the log's start-up
    // header waits for the first poll), but the page still moves.
    Watch first;
    int firstDraws = 0;
    PresenceLinks firstLinks;
    firstLinks.drawStatusPage = [&](bool) { ++firstDraws; };
    first.watch = std::make_unique<PresenceWatch>(first.flags, first.drives, first.shell, first.bar, firstLinks);
    first.shell.Model().statusPageDevice = 1;
    first.drives.ProbeCount = 1;
    first.flags.DetectDone = 1;
    first.watch->Timer4Timer();
    EXPECT_EQ(first.shell.Model().statusPageDevice, 0);
    EXPECT_EQ(firstDraws, 0);
    EXPECT_TRUE(first.shell.Model().firstStatusPending);
}

}  // namespace
}  // namespace kestrel
