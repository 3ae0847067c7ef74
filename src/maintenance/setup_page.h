#pragma once
// The Setup page of the Hybrid program without its widgets: the two
// sub-pages (Initialize, backup schedule), the shared Set button, the
// schedule controls that mirror the controller's schedule, and the settings
// command that the monitoring worker sends when RefreshFlags bit 1 is up.
// The hidden option boxes ("Buzzer Mute", "Auto Scan") raise that command
// too. A state change of a box or radio button runs its click handler,
// whoever made it, as the window framework does.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "device/transport.h"
#include "maintenance/disk_operations.h"
#include "maintenance/maintenance_lock.h"
#include "monitor/scheduler_flags.h"
#include "monitor/window_state.h"
#include "platform/product_variant.h"
#include "wire/drive_table.h"

namespace kestrel {

inline constexpr int kSetupInitialize = 0;
inline constexpr int kSetupSchedule = 1;

// RadioButton_10min, _30min, _1Hour, _3Hour and the periods they choose.
inline constexpr std::array<uint8_t, 4> kBackupPeriods = {10, 30, 60, 180};
inline constexpr std::array<const char*, 4> kBackupPeriodCaptions = {"10 minutes", "30 minutes", "1 hour",
                                                                     "3 hours"};

struct SetupPageState {
    int subPage = kSetupInitialize;        // Notebook3
    bool setVisible = true;                // Image1_Set
    bool backupChecked = false;            // CheckBox_Backup
    bool backupEnabled = true;
    std::array<bool, 4> periodChecked{};   // the radio buttons
    std::string backupMessage = "Schedule Backup Disable";  // Label_Backup_mess
    bool backupMessageVisible = false;
};

// The Initialize sub-page's line naming the enclosure Set would erase (the
// Status page's), with its model as its device label gives it.
std::string InitializeTargetText(const ShellModel& model);

class SetupPage {
public:
    SetupPage(ProductVariant variant, Transport& transport, MaintenanceLock& lock, DriveTable& drives,
              SchedulerFlags& flags, WindowState& window, DiskOperations& disks)
        : variant_(variant), transport_(transport), lock_(lock), drives_(drives), flags_(flags), window_(window),
          disks_(disks) {}

    const SetupPageState& State() const { return state_; }
    uint8_t BackupPeriod() const { return backupPeriod_; }
    // The window shows the state after every change; may be empty.
    void SetView(std::function<void()> view) { view_ = std::move(view); }
    // Receives the day-log line of a settings command that changed an
    // enclosure's backup schedule (or failed to); may be empty.
    void SetLogLine(std::function<void(const std::string&)> log) { logLine_ = std::move(log); }

    void Image1_InitializeClick();
    void Image1_ScheduleClick();
    // The sub-page shown, as it was left, when the page opens.
    void ShowSubPage();
    // Initialize on sub-page 0, the settings command on sub-page 1.
    void Image1_SetClick();

    // From the Status page's record of its slot, when the page opens.
    void LoadScheduleControls();
    void ShowBackupSchedule();

    // The user, or the program, changes a control: its handler runs when
    // the state changes (for a radio button, when it becomes checked).
    void SetBackupChecked(bool checked);
    void SetPeriodChecked(size_t index);
    void CheckBox_BackupClick();
    void RadioButtonClick(size_t index);

    // CheckBox6Click and CheckBox7Click: the redraw changed an option box.
    void OptionBoxClick();

    // Run by the monitoring worker for RefreshFlags bit 1, for the Status
    // page's enclosure (slot).
    [[nodiscard]] OpResult SendSettingsCommand(unsigned slot);

private:
    void Changed() {
        if (view_) view_();
    }

    ProductVariant variant_;
    Transport& transport_;
    MaintenanceLock& lock_;
    DriveTable& drives_;
    SchedulerFlags& flags_;
    WindowState& window_;
    DiskOperations& disks_;
    SetupPageState state_;
    uint8_t backupPeriod_ = 0;
    // The drive whose schedule the controls were loaded from; until then,
    // and for another enclosure, they say nothing about its schedule.
    bool scheduleLoaded_ = false;
    unsigned loadedDrive_ = 0;
    std::function<void()> view_;
    std::function<void(const std::string&)> logLine_;
};

}  // namespace kestrel
