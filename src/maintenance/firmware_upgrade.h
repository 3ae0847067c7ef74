#pragma once
// The three-step firmware upgrade of the Upgrade page: with the enclosure
// locked and in upgrade mode, erase the whole flash, program the loaded
// image and read it back to verify it. Refuses before anything is erased
// when no image is loaded, the controller's configuration version differs
// from the image's, or a rebuild or media scan is running.
#include <functional>
#include <string>
#include <vector>

#include "device/status_reader.h"
#include "maintenance/firmware_image.h"
#include "maintenance/flash_access.h"
#include "maintenance/maintenance_lock.h"
#include "monitor/scheduler_flags.h"
#include "monitor/window_state.h"
#include "platform/user_interface.h"
#include "wire/drive_table.h"

namespace kestrel {

class SignalHold;

// Bar maximum: every 512 bytes read and programmed, every 4 KiB erased, and
// some room: 2,206 for the 512 KiB flash.
inline constexpr int kUpgradeProgressMax = static_cast<int>((kImageFlashSize / 512) * 2 + kImageFlashSize / 4096 + 30);
// Steps a whole upgrade counts: 128 erased sectors, 1,024 programmed and
// 1,024 read blocks of 512 bytes.
inline constexpr uint32_t kUpgradeProgressSteps = kImageFlashSize / 4096 + 2 * (kImageFlashSize / 512);

enum class UpgradeOutcome {
    Ignored,   // an operation or a detection was running: nothing happened
    Refused,   // stopped before anything was erased
    Failed,    // the flash was touched and the upgrade did not verify
    Verified,  // erased, programmed and read back equal
};

struct UpgradePorts {
    MessageBoxes& boxes;
    StatusBar& bar;
    // Starts (true) or stops (false) Timer1; may be empty.
    std::function<void(bool)> timer1;
    // Receives the signals that arrived while the enclosure was in upgrade
    // mode, once it has left it. Empty: each then takes its default action.
    std::function<void(const std::vector<int>&)> heldSignals = {};
    // Hears the outcome of an upgrade that touched the flash (Verified or
    // Failed) once the lock is released, before the closing box waits for
    // a person; may be empty.
    std::function<void(UpgradeOutcome)> ended = {};
    // Receives the day-log lines of an upgrade that touched the flash: its
    // start and its result, with the old and the new revision; may be empty.
    std::function<void(const std::string& line)> logLine = {};
};

class FirmwareUpgrade {
public:
    FirmwareUpgrade(FlashAccess& flash, MaintenanceLock& lock, StatusReader& reader, DriveTable& drives,
                    SchedulerFlags& flags, WindowState& window, UpgradePorts ports)
        : flash_(flash), lock_(lock), reader_(reader), drives_(drives), flags_(flags), window_(window),
          ports_(std::move(ports)) {}

    // Upgrades the enclosure in slot with image: the window's Upgrade button
    // (the Upgrade page's slot and the loaded image) and the command line.
    [[nodiscard]] UpgradeOutcome Upgrade(unsigned slot, const FirmwareImage& image);

private:
    UpgradeOutcome Refuse(const std::string& box, const std::string& caption, SignalHold& hold);
    // Ends maintenance, then shows the outcome's box: the polls run while
    // it waits.
    UpgradeOutcome Finish(UpgradeOutcome outcome, const std::function<void()>& box);
    void Log(const std::string& line) {
        if (ports_.logLine) ports_.logLine(line);
    }
    void DeliverHeld(SignalHold& hold);
    OpResult EraseProgramVerify(const FirmwareImage& image);
    void ShowStep(const char* text);

    FlashAccess& flash_;
    MaintenanceLock& lock_;
    StatusReader& reader_;
    DriveTable& drives_;
    SchedulerFlags& flags_;
    WindowState& window_;
    UpgradePorts ports_;
};

}  // namespace kestrel
