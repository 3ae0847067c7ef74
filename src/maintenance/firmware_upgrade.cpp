#include "maintenance/firmware_upgrade.h"

#include <vector>

#include "platform/signal_hold.h"

namespace kestrel {

namespace {

constexpr size_t kStatusConfigVersion = 1;
constexpr size_t kStatusActivityFlags = 105;
constexpr uint8_t kRebuildOrScan = 0x03;

}  // namespace

void FirmwareUpgrade::ShowStep(const char* text) {
    window_.Model().maintenance.stepText = text;
    window_.Sync();
}

UpgradeOutcome FirmwareUpgrade::Refuse(const std::string& box, const std::string& caption, SignalHold& hold) {
    ports_.boxes.Show(box, caption);
    flash_.SetSpiMode(spi_mode::kLeaveUpgrade);
    DeliverHeld(hold);
    lock_.EndMaintenance();
    return UpgradeOutcome::Refused;
}

UpgradeOutcome FirmwareUpgrade::Image2_UpgradeClick() {
    // A detection uses the same transport from its own thread; the button
    // is disabled meanwhile, and this keeps other callers out too.
    if (lock_.Busy() || flags_.Probing.load() || flags_.DetectPending.load()) return UpgradeOutcome::Ignored;
    lock_.BeginMaintenance();
    if (!image_.Loaded()) {
        ports_.boxes.Show("Please Load Firmware File First ", "Message");
        lock_.EndMaintenance();
        return UpgradeOutcome::Refused;
    }
    drives_.LockedEnclosure = static_cast<unsigned>(window_.Model().upgradePageDevice);
    // From entering upgrade mode until it is left, no signal but SIGKILL
    // may end the process: a half-erased flash may not boot.
    SignalHold hold;
    if (!flash_.SetSpiMode(spi_mode::kEnterUpgrade)) {
        DeliverHeld(hold);
        lock_.EndMaintenance();
        return UpgradeOutcome::Refused;
    }
    Block512 status{};
    if (!reader_.ReadStatus(drives_, {false, true}, status)) return Refuse("Get SPI Record fail ", "Message", hold);
    if (status[kStatusConfigVersion] != image_.ConfigVersion())
        return Refuse("SPI Configuration Version Error", "", hold);
    if (status[kStatusActivityFlags] & kRebuildOrScan)
        return Refuse("Don't upgrade new firmware when device is rebuilding or scanning.", "", hold);

    MaintenanceView& view = window_.Model().maintenance;
    view.updateText = "Firmware Update...";
    flags_.ProgressCounter.store(0);
    view.progressMax = kUpgradeProgressMax;
    view.progressPosition = 0;
    view.stepText = "Process 1 / 3";
    view.stepPanelVisible = true;
    window_.Sync();
    if (ports_.timer1) ports_.timer1(true);

    const bool verified = EraseProgramVerify();
    // The text the failure box shows is the step's own, whatever leaving
    // upgrade mode reports after it.
    const std::string failure = ports_.bar.Panel(kErrorPanel);
    flash_.SetSpiMode(spi_mode::kLeaveUpgrade);
    DeliverHeld(hold);
    if (ports_.timer1) ports_.timer1(false);
    view.stepPanelVisible = false;
    window_.Sync();
    if (verified) {
        ports_.boxes.ShowWithIcon(std::string("Firmware Upgrade 3/3 completed!\n") +
                                      "\nPlease power off this device or the system," +
                                      "\nand power on it to enable the new firmware!",
                                  "Firmware Upgrade Message", MessageIcon::Warning);
    } else {
        if (ports_.bar.Panel(kErrorPanel) != failure) ports_.bar.SetPanel(kErrorPanel, failure);
        ports_.boxes.Show(failure, "Message");
    }
    lock_.EndMaintenance();
    return verified ? UpgradeOutcome::Verified : UpgradeOutcome::Failed;
}

void FirmwareUpgrade::DeliverHeld(SignalHold& hold) {
    const std::vector<int> held = hold.Release();
    if (held.empty()) return;
    if (ports_.heldSignals) ports_.heldSignals(held);
    else RaiseHeldSignals(held);
}

bool FirmwareUpgrade::EraseProgramVerify() {
    MaintenanceView& view = window_.Model().maintenance;
    const bool erased = flash_.SpiErase(0, kImageFlashSize);
    view.progressPosition = static_cast<int>(flags_.ProgressCounter.load());
    if (!erased) {
        ports_.bar.SetPanel(kErrorPanel, "SPI Erase Fail.");
        return false;
    }
    ports_.bar.SetPanel(kErrorPanel, "SPI Erase OK");
    ShowStep("Process 2 / 3");
    const std::span<const uint8_t> image(image_.bytes.data(), kImageFlashSize);
    if (!flash_.SpiProgram(0, kImageFlashSize, image)) {
        ports_.bar.SetPanel(kErrorPanel, "SPI Program Fail.");
        return false;
    }
    ports_.bar.SetPanel(kErrorPanel, "SPI Program OK");
    ShowStep("Process 3 / 3");
    std::vector<uint8_t> readBack(kImageFlashSize);
    if (!flash_.SpiRead(0, kImageFlashSize, readBack)) return false;
    for (uint32_t i = 0; i < kImageFlashSize; ++i) {
        if (readBack[i] != image[i]) {
            ports_.bar.SetPanel(kErrorPanel, "SPI Verify fail !!!");
            return false;
        }
    }
    ports_.bar.SetPanel(kErrorPanel, "SPI Verify OK");
    return true;
}

}  // namespace kestrel
