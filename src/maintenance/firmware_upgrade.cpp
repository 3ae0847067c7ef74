#include "maintenance/firmware_upgrade.h"

#include <vector>

#include "eventlog/log_text.h"
#include "platform/signal_hold.h"
#include "wire/device_text.h"
#include "wire/enclosure_status.h"

namespace kestrel {

void FirmwareUpgrade::ShowStep(const char* text) {
    window_.Model().maintenance.stepText = text;
    window_.Sync();
}

UpgradeOutcome FirmwareUpgrade::Finish(UpgradeOutcome outcome, const std::function<void()>& box) {
    lock_.EndMaintenance();
    if (ports_.ended && (outcome == UpgradeOutcome::Verified || outcome == UpgradeOutcome::Failed))
        ports_.ended(outcome);
    lock_.WithBoxOpen(box);
    return outcome;
}

UpgradeOutcome FirmwareUpgrade::Refuse(const std::string& box, const std::string& caption, SignalHold& hold) {
    (void)flash_.SetSpiMode(spi_mode::kLeaveUpgrade);  // the refusal is what is told
    DeliverHeld(hold);
    return Finish(UpgradeOutcome::Refused, [&] { ports_.boxes.Show(box, caption); });
}

UpgradeOutcome FirmwareUpgrade::Upgrade(unsigned slot, const FirmwareImage& image) {
    // A detection uses the same transport from its own thread; the button
    // is disabled meanwhile, and this keeps other callers out too.
    if (!lock_.Available() || flags_.Probing.load() || flags_.DetectPending.load()) return UpgradeOutcome::Ignored;
    lock_.BeginMaintenance();
    if (!image.Loaded())
        return Finish(UpgradeOutcome::Refused,
                      [this] { ports_.boxes.Show("Please Load Firmware File First ", "Message"); });
    drives_.LockedEnclosure = slot;
    // From entering upgrade mode until it is left, no signal but SIGKILL
    // may end the process: a half-erased flash may not boot.
    SignalHold hold;
    if (!flash_.SetSpiMode(spi_mode::kEnterUpgrade)) {  // the panel and boxes told why
        DeliverHeld(hold);
        lock_.EndMaintenance();
        return UpgradeOutcome::Refused;
    }
    Block512 status{};
    if (!reader_.ReadSlot(drives_, slot, status)) return Refuse("Get SPI Record fail ", "Message", hold);
    const EnclosureStatus decoded = DecodeStatus(status, SlotCapabilities(drives_, slot));
    if (decoded.configVersion != image.ConfigVersion()) return Refuse("SPI Configuration Version Error", "", hold);
    if (decoded.Running())
        return Refuse("Don't upgrade new firmware when device is rebuilding or scanning.", "", hold);

    const std::string oldRevision = DeviceText(SlotRevision(drives_, slot)) + "." + decoded.firmwareCode;
    const std::string newCode = ImageFirmwareCode(image);
    Log(logtext::UpgradeStartLine(slot, oldRevision, newCode, ChecksumText(ImageByteSum(image.bytes))));

    MaintenanceView& view = window_.Model().maintenance;
    view.updateText = "Firmware Update...";
    flags_.ProgressCounter.store(0);
    view.progressMax = kUpgradeProgressMax;
    view.progressPosition = 0;
    view.stepText = "Process 1 / 3";
    view.stepPanelVisible = true;
    window_.Sync();
    if (ports_.timer1) ports_.timer1(true);

    const OpResult written = EraseProgramVerify(image);
    const bool verified = written.ok;
    // The text the failure box shows is the step's own, whatever leaving
    // upgrade mode reports after it.
    const OpResult left = flash_.SetSpiMode(spi_mode::kLeaveUpgrade);
    DeliverHeld(hold);
    if (ports_.timer1) ports_.timer1(false);
    view.stepPanelVisible = false;
    window_.Sync();
    Log(logtext::UpgradeEndLine(slot, oldRevision, newCode, verified ? std::string() : written.failure));
    if (verified)
        return Finish(UpgradeOutcome::Verified, [this] {
            ports_.boxes.ShowWithIcon(std::string("Firmware Upgrade 3/3 completed!\n") +
                                          "\nPlease power off this device or the system," +
                                          "\nand power on it to enable the new firmware!",
                                      "Firmware Upgrade Message", MessageIcon::Warning);
        });
    if (!left && left.failure != written.failure) ports_.bar.SetPanel(kErrorPanel, written.failure);
    return Finish(UpgradeOutcome::Failed, [&] { ports_.boxes.Show(written.failure, "Message"); });
}

void FirmwareUpgrade::DeliverHeld(SignalHold& hold) {
    const std::vector<int> held = hold.Release();
    if (held.empty()) return;
    if (ports_.heldSignals) ports_.heldSignals(held);
    else RaiseHeldSignals(held);
}

OpResult FirmwareUpgrade::EraseProgramVerify(const FirmwareImage& loaded) {
    MaintenanceView& view = window_.Model().maintenance;
    // Each step's failure is told by its own text.
    auto step = [this](const char* text) {
        ports_.bar.SetPanel(kErrorPanel, text);
        return OpResult::Failure(text);
    };
    const bool erased = flash_.SpiErase(0, kImageFlashSize).ok;
    view.progressPosition = static_cast<int>(flags_.ProgressCounter.load());
    if (!erased) return step("SPI Erase Fail.");
    ports_.bar.SetPanel(kErrorPanel, "SPI Erase OK");
    ShowStep("Process 2 / 3");
    const std::span<const uint8_t> image(loaded.bytes.data(), kImageFlashSize);
    if (!flash_.SpiProgram(0, kImageFlashSize, image)) return step("SPI Program Fail.");
    ports_.bar.SetPanel(kErrorPanel, "SPI Program OK");
    ShowStep("Process 3 / 3");
    std::vector<uint8_t> readBack(kImageFlashSize);
    // A failed read is told by the transport's own text.
    if (OpResult read = flash_.SpiRead(0, kImageFlashSize, readBack); !read) return read;
    for (uint32_t i = 0; i < kImageFlashSize; ++i)
        if (readBack[i] != image[i]) return step("SPI Verify fail !!!");
    ports_.bar.SetPanel(kErrorPanel, "SPI Verify OK");
    return OpResult::Success();
}

}  // namespace kestrel
