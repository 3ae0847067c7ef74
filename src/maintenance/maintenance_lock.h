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
    // Whether an operation may start: none runs and no operation's box
    // (a question before one, an outcome after one) waits for a person.
    bool Available() const { return !Busy() && boxesOpen_ == 0; }
    // Shows an operation's box: the operation has ended (the lock is
    // released and the polls run while it waits), yet no other operation
    // starts until it is closed.
    template <typename ShowBox>
    auto WithBoxOpen(ShowBox&& show) {
        struct Open {
            int& count;
            explicit Open(int& c) : count(c) { ++count; }
            ~Open() { --count; }
        } open(boxesOpen_);
        return show();
    }
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
    int boxesOpen_ = 0;
    std::function<void(std::function<void()>)> post_;
};

}  // namespace kestrel
