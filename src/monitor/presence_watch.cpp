#include "monitor/presence_watch.h"

#include <algorithm>

namespace kestrel {

namespace {
constexpr const char* kDetecting = "Drive detecting";
}

PresenceWatch::PresenceWatch(SchedulerFlags& flags, DriveTable& drives, WindowState& shell, StatusBar& bar,
                             PresenceLinks links)
    : flags_(flags), drives_(drives), shell_(shell), bar_(bar), links_(std::move(links)) {}

void PresenceWatch::DeviceChanged() {
    flags_.DetectCountdown.store(kCountdownStart);
    if (links_.runTimer4) links_.runTimer4(true);
}

bool PresenceWatch::RaiseDetection() {
    if (!flags_.RaiseDetection()) return false;
    if (links_.runTimer4) links_.runTimer4(true);
    return true;
}

bool PresenceWatch::Timer4Needed() const {
    return flags_.DetectCountdown.load() != 0 || flags_.DetectionInFlight();
}

void PresenceWatch::Timer4Timer() {
    Tick();
    // Only this thread starts a countdown or a detection, so nothing can
    // start between the look and the stop.
    if (!Timer4Needed() && links_.runTimer4) links_.runTimer4(false);
}

void PresenceWatch::Tick() {
    ShellModel& m = shell_.Model();
    // A finished detection is committed before a newer device change is
    // counted down: the count check that follows then compares with what
    // was committed, and never runs beside a detection.
    if (flags_.TakeFinishedDetection()) {
        CommitFinishedDetection();
        return;
    }
    if (flags_.DetectCountdown.load() != 0) {
        CountDown();
        return;
    }
    if (flags_.DetectPending.load() && m.detectText == kDetecting) {
        m.detectTextVisible = !m.detectTextVisible;
        shell_.Sync();
    }
}

void PresenceWatch::CountDown() {
    ShellModel& m = shell_.Model();
    const uint8_t count = flags_.DetectCountdown.load();
    if (count < kCountdownEnd) {
        flags_.DetectCountdown.store(static_cast<uint8_t>(count + 1));
        return;
    }
    // A maintenance operation holds the enclosure: look again next tick.
    m.upgradeEnabled = false;
    if (flags_.MaintenanceBusy.load()) {
        m.upgradeEnabled = true;
        shell_.Sync();
        return;
    }
    // A detection is still running or waits for its commit: counting now
    // would open drives beside it. Look again once it has been committed.
    if (flags_.Probing.load() || flags_.DetectionInFlight()) {
        m.upgradeEnabled = true;
        shell_.Sync();
        return;
    }
    flags_.Probing.store(1);
    flags_.DetectCountdown.store(0);
    const int logical = links_.countLogicalDrives ? links_.countLogicalDrives() : drives_.LogicalDriveCount;
    const int physical = links_.countPhysicalDrives ? links_.countPhysicalDrives() : drives_.PhysicalDriveCount;
    if (logical == drives_.LogicalDriveCount && physical == drives_.PhysicalDriveCount) {
        m.upgradeEnabled = true;
        flags_.Probing.store(0);
        shell_.Sync();
        return;
    }
    drives_.LogicalDriveCount = logical;
    drives_.PhysicalDriveCount = physical;
    RaiseDetection();
    if (drives_.EnclosureCount == 0) {
        m.detectText = kDetecting;
        m.detectTextVisible = true;
    }
    shell_.Sync();
}

void PresenceWatch::CommitFinishedDetection() {
    ShellModel& m = shell_.Model();
    bar_.SetPanel(1, "Detected OK");
    bar_.SetPanel(2, " ");
    // The boxes are set without running their click handlers: nothing is to
    // be drawn before the first poll has read the records, or the start-up
    // header of the log would be lost. What the handlers would do for the
    // pages is done below once the page has been drawn.
    for (unsigned slot = 0; slot < 2; ++slot) {
        const bool found = slot < drives_.ProbeCount;
        m.deviceBoxVisible[slot] = found;
        m.deviceChecked[slot] = found;
        m.slotPicturesVisible[slot] = found;
        // A slot filled (again) starts with a clear back-off, as a click on
        // its box would give it.
        if (found) flags_.PollBackoff[slot] = 0;
    }
    const bool statusPageMoved = LeaveVanishedSlots();
    if (links_.commitDetection) links_.commitDetection();

    if (drives_.EnclosureCount == 0) {
        m.loadEnabled = false;
        m.upgradeEnabled = false;
        m.pageButtonsEnabled = false;
        flags_.Probing.store(0);
        m.detectText = "No Drive found! ";
        m.detectTextVisible = true;
        shell_.Sync();
        return;
    }
    m.loadEnabled = true;
    m.upgradeEnabled = true;
    m.pageButtonsEnabled = true;
    m.logButtonVisible = true;
    if (links_.buildDeviceLabels) links_.buildDeviceLabels();
    if (links_.showUpgradeFirmware) links_.showUpgradeFirmware(m.upgradePageDevice);
    if (statusPageMoved && m.currentPage == kPageStatus && !m.firstStatusPending && links_.drawStatusPage)
        links_.drawStatusPage(true);
    flags_.Probing.store(0);
    flags_.RequestRefresh(refresh::kMonitoring | refresh::kStatusPoll);
    if (links_.startMonitoring) links_.startMonitoring();
    m.detectTextVisible = false;
    m.detectText = " ";
    shell_.Sync();
}

bool PresenceWatch::LeaveVanishedSlots() {
    ShellModel& m = shell_.Model();
    if (drives_.ProbeCount == 0) return false;  // nothing to move to: "No Drive found! "
    const int last = static_cast<int>(std::min(drives_.ProbeCount, 2u)) - 1;
    const bool statusMoved = m.statusPageDevice > last;
    if (statusMoved) m.statusPageDevice = last;
    if (m.upgradePageDevice > last) m.upgradePageDevice = last;
    return statusMoved;
}

}  // namespace kestrel
