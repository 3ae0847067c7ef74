#pragma once
// The maintenance lock that the firmware upgrade (and initialise and
// rebuild) take: MaintenanceBusy and the locked enclosure, the device boxes
// disabled meanwhile, and a close request held until the lock is released,
// so that a closing window never leaves the flash half written.
#include <functional>

#include "monitor/scheduler_flags.h"
#include "monitor/window_state.h"
#include "wire/drive_table.h"

namespace kestrel {

class MaintenanceLock {
public:
    MaintenanceLock(SchedulerFlags& flags, DriveTable& drives, WindowState& window)
        : flags_(flags), drives_(drives), window_(window) {}

    bool Busy() const { return flags_.MaintenanceBusy.load() != 0; }
    // Sets MaintenanceBusy and disables the device boxes.
    void BeginMaintenance();
    // Releases the locked enclosure, enables the device boxes and clears
    // MaintenanceBusy; then a held close runs, through the poster.
    void EndMaintenance();

    // A close request: false when nothing is running (close now); true when
    // it is held until EndMaintenance, which then runs close.
    bool HoldClose(std::function<void()> close);
    bool CloseHeld() const { return static_cast<bool>(heldClose_); }
    // How the held close is run after EndMaintenance: the composition root
    // posts it to the event loop, so that the operation's own handler has
    // returned first. Without a poster it runs at once.
    void SetPoster(std::function<void(std::function<void()>)> post) { post_ = std::move(post); }

    // Timer1: the block counter into the visible progress bar (the Setup
    // page's on the Setup page, else the Upgrade page's).
    void Timer1Timer();

private:
    SchedulerFlags& flags_;
    DriveTable& drives_;
    WindowState& window_;
    std::function<void()> heldClose_;
    std::function<void(std::function<void()>)> post_;
};

}  // namespace kestrel
