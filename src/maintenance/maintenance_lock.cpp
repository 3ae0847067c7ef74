#include "maintenance/maintenance_lock.h"

namespace kestrel {

void MaintenanceLock::BeginMaintenance() {
    flags_.MaintenanceBusy.store(1);
    window_.Model().maintenance.deviceBoxesEnabled = false;
    window_.Sync();
}

void MaintenanceLock::EndMaintenance() {
    drives_.LockedEnclosure = DriveTable::kNoEnclosure;
    MaintenanceView& view = window_.Model().maintenance;
    view.deviceBoxesEnabled = true;
    flags_.MaintenanceBusy.store(0);
    std::function<void()> close = std::move(heldClose_);
    heldClose_ = nullptr;
    view.closeHeld = false;
    window_.Sync();
    if (!close) return;
    if (post_) post_(std::move(close));
    else close();
}

bool MaintenanceLock::HoldClose(std::function<void()> close) {
    if (!Busy()) return false;
    heldClose_ = std::move(close);
    window_.Model().maintenance.closeHeld = true;
    window_.Sync();
    return true;
}

void MaintenanceLock::Timer1Timer() {
    ShellModel& m = window_.Model();
    const int counter = static_cast<int>(flags_.ProgressCounter.load());
    if (m.currentPage == kPageSetup) m.maintenance.setupProgressPosition = counter;
    else m.maintenance.progressPosition = counter;
    window_.Sync();
}

}  // namespace kestrel
