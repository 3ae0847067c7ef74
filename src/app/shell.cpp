#include "app/shell.h"

namespace kestrel {

Shell::Shell(ProductVariant variant, DriveTable& drives) : drives_(drives) {
    model_.variant = variant;
    ApplyProductVariant();
}

void Shell::Sync() {
    if (view_) view_->Sync(model_);
}

void Shell::ApplyProductVariant() {
    const bool hybrid = model_.variant == ProductVariant::Hybrid;
    model_.baseTitle = BaseTitleFor(model_.variant);
    model_.caption = model_.baseTitle;
    model_.aboutText = hybrid ? "Hybrid Management Sofeware" : "RAID Management Sofeware";
    Sync();
}

void Shell::ShowPageButtons() { Sync(); }

bool Shell::PageClicksAllowed() const { return !drives_.IsLocked() && !model_.firstStatusPending; }

void Shell::SetCurrentPage(int page) {
    model_.currentPage = page;
    ShowPageButtons();
}

void Shell::Image_StsClick() {
    if (!PageClicksAllowed()) return;
    SetCurrentPage(kPageStatus);
    drives_.SelectedEnclosure = static_cast<unsigned>(model_.statusPageDevice);
    Call(hooks_.drawStatusPage, false);
}

void Shell::Image_SetupClick() {
    if (!PageClicksAllowed()) return;
    Call(hooks_.loadScheduleControls);
    SetCurrentPage(kPageSetup);
    Call(hooks_.showSetupSubPage);
}

void Shell::Image_FWUpgClick() {
    if (!PageClicksAllowed()) return;
    SetCurrentPage(kPageUpgrade);
    drives_.SelectedEnclosure = static_cast<unsigned>(model_.upgradePageDevice);
    ShowUpgradePageDevice();
}

void Shell::Image_EmailClick() {
    if (!PageClicksAllowed()) return;
    SetCurrentPage(kPageEmail);
    Call(hooks_.showEmailPage);
}

void Shell::Image_AboutClick() {
    if (!PageClicksAllowed()) return;
    SetCurrentPage(kPageAbout);
}

void Shell::SetDeviceChecked(int slot, bool checked) {
    if (slot < 0 || slot > 1) return;
    if (model_.deviceChecked[static_cast<size_t>(slot)] == checked) return;
    model_.deviceChecked[static_cast<size_t>(slot)] = checked;
    DeviceCheckBoxClick(slot);
}

void Shell::DeviceCheckBoxClick(int slot) {
    const size_t self = static_cast<size_t>(slot);
    const int other = 1 - slot;
    const bool otherChecked = model_.deviceChecked[static_cast<size_t>(other)];
    if (model_.deviceChecked[self]) {
        model_.slotPicturesVisible[self] = true;
        if (!otherChecked) {
            model_.statusPageDevice = slot;
            drives_.SelectedEnclosure = static_cast<unsigned>(slot);
        }
    } else {
        model_.slotPicturesVisible[self] = false;
        if (!otherChecked) {
            // The page no longer shows a state that is not being watched.
            if (model_.currentPage == kPageStatus) Call(hooks_.drawStatusPage, true);
            Sync();
            return;
        }
        model_.statusPageDevice = other;
        drives_.SelectedEnclosure = static_cast<unsigned>(other);
    }
    Call(hooks_.clearPollCounter, slot);
    Call(hooks_.buildDeviceLabels);
    ShowPageButtons();
    if (model_.currentPage == kPageStatus) Call(hooks_.drawStatusPage, true);
}

void Shell::ShowStatusPageDevice() {
    // The redraw below changes the option boxes programmatically; the flag
    // keeps those changes from sending a configuration write.
    model_.slotSwitching = true;
    drives_.SelectedEnclosure = static_cast<unsigned>(model_.statusPageDevice);
    Call(hooks_.buildDeviceLabels);
    model_.autoScanBoxEnabled = true;
    Sync();
    Call(hooks_.drawStatusPage, true);
    model_.slotSwitching = false;
}

void Shell::SelectStatusPageDevice(int slot) {
    model_.statusPageDevice = slot;
    ShowStatusPageDevice();
}

void Shell::ShowUpgradePageDevice() {
    drives_.SelectedEnclosure = static_cast<unsigned>(model_.upgradePageDevice);
    Call(hooks_.buildDeviceLabels);
    Call(hooks_.showUpgradeFirmware, model_.upgradePageDevice);
    Sync();
}

void Shell::SelectUpgradePageDevice(int slot) {
    if (drives_.IsLocked()) return;
    model_.upgradePageDevice = slot;
    ShowUpgradePageDevice();
}

}  // namespace kestrel
