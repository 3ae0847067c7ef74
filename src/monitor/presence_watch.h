#pragma once
// Timer4 and the device-change message: after a device change and five quiet
// seconds, re-counts the drives and, when a count changed, has the detection
// thread look for enclosures again; then commits the finished detection,
// blinking "Drive detecting" meanwhile, and enables the window once
// enclosures are found.
#include <functional>

#include "monitor/window_state.h"
#include "wire/drive_table.h"
#include "monitor/scheduler_flags.h"
#include "platform/user_interface.h"

namespace kestrel {

struct PresenceLinks {
    std::function<int()> countLogicalDrives;   // fills the letter list, returns its length
    std::function<int()> countPhysicalDrives;
    std::function<void()> commitDetection;    // replaces the committed list
    std::function<void()> buildDeviceLabels;
    std::function<void(bool force)> drawStatusPage;
    std::function<void(int slot)> showUpgradeFirmware;  // Label54
    std::function<void()> startMonitoring;    // starts Timer2
    // Starts Timer4 (true; one already running keeps its pace) or stops it.
    std::function<void(bool run)> runTimer4;
};

class PresenceWatch {
public:
    PresenceWatch(SchedulerFlags& flags, DriveTable& drives, WindowState& shell, StatusBar& bar, PresenceLinks links);

    // Any device change (the platform's notifier): restart the quiet wait.
    void DeviceChanged();
    // Asks the detection thread for a detection (false while one is in
    // flight) and has Timer4 watch it.
    bool RaiseDetection();
    void Timer4Timer();
    // Timer4 runs only while it has something to do: a countdown, or a
    // detection in flight (whose "Drive detecting" blinks and which it
    // commits). Once idle it stops itself; what starts work starts it.
    bool Timer4Needed() const;

    static constexpr uint8_t kCountdownStart = 16;
    static constexpr uint8_t kCountdownEnd = 26;

private:
    void Tick();
    void CountDown();
    void CommitFinishedDetection();
    // Moves the pages off a slot the new list no longer has; returns
    // whether the Status page moved.
    bool LeaveVanishedSlots();

    SchedulerFlags& flags_;
    DriveTable& drives_;
    WindowState& shell_;
    StatusBar& bar_;
    PresenceLinks links_;
};

}  // namespace kestrel
