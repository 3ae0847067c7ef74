#include "maintenance/setup_page.h"

#include "eventlog/log_text.h"
#include "maintenance/controller_command.h"
#include "wire/enclosure_status.h"

namespace kestrel {

namespace {

constexpr size_t kScheduleOn = 5;
constexpr size_t kSchedulePeriod = 6;

}  // namespace

void SetupPage::Image1_InitializeClick() {
    state_.subPage = kSetupInitialize;
    state_.setVisible = true;
    Changed();
}

void SetupPage::Image1_ScheduleClick() {
    state_.subPage = kSetupSchedule;
    ShowBackupSchedule();
}

void SetupPage::ShowSubPage() {
    if (state_.subPage == kSetupSchedule) Image1_ScheduleClick();
    else Image1_InitializeClick();
}

void SetupPage::Image1_SetClick() {
    if (lock_.Busy()) return;
    if (state_.subPage == kSetupSchedule) flags_.RequestRefresh(refresh::kConfigWrite);
    else (void)disks_.Initialize(window_.Model().statusPageDevice);  // its boxes and panels tell the outcome
}

void SetupPage::LoadScheduleControls() {
    state_.backupEnabled = false;
    state_.periodChecked = {};
    Changed();
    const EnclosureStatus s = SlotStatus(drives_, static_cast<unsigned>(window_.Model().statusPageDevice));
    if (s.scheduledBackup) {
        SetBackupChecked(true);
        backupPeriod_ = s.backupPeriod;
        size_t index = 0;  // any period the table does not have reads as 10 minutes
        for (size_t i = 0; i < kBackupPeriods.size(); ++i)
            if (kBackupPeriods[i] == backupPeriod_) index = i;
        SetPeriodChecked(index);
    } else {
        SetBackupChecked(false);
    }
    state_.backupEnabled = true;
    scheduleLoaded_ = true;
    loadedDrive_ = drives_.DriveOfSlot(static_cast<unsigned>(window_.Model().statusPageDevice));
    Changed();
}

std::string InitializeTargetText(const ShellModel& m) {
    const size_t slot = static_cast<size_t>(m.statusPageDevice & 1);
    const std::string& label = m.deviceHint[slot];
    return "Set erases both disks of Device" + std::to_string(slot + 1) + (label.empty() ? "" : " (" + label + ")") +
           ".";
}

namespace {
std::string PeriodText(unsigned minutes) { return "Backup period: " + std::to_string(minutes) + " minutes"; }
}  // namespace

void SetupPage::ShowBackupSchedule() {
    if (state_.backupChecked) {
        // The controller's own period is shown; BackupPeriod stays what the
        // radio buttons chose, so that Set sends the period they show.
        // Where the radio buttons chose another period, the text says what
        // Set will change it to, in the same words.
        const EnclosureStatus s = SlotStatus(drives_, static_cast<unsigned>(window_.Model().statusPageDevice));
        state_.backupMessage = s.scheduledBackup ? PeriodText(s.backupPeriod) : "Schedule Backup Disable";
        if (backupPeriod_ != 0 && (!s.scheduledBackup || backupPeriod_ != s.backupPeriod))
            state_.backupMessage += "; Set makes it " + std::to_string(backupPeriod_) + " minutes";
        state_.backupMessageVisible = true;
        state_.setVisible = true;
    } else {
        state_.backupMessageVisible = false;
        state_.backupMessage = "Schedule Backup Disable";
        state_.setVisible = false;
    }
    Changed();
}

void SetupPage::SetBackupChecked(bool checked) {
    if (state_.backupChecked == checked) return;
    state_.backupChecked = checked;
    CheckBox_BackupClick();
}

void SetupPage::SetPeriodChecked(size_t index) {
    if (index >= kBackupPeriods.size() || state_.periodChecked[index]) return;
    state_.periodChecked = {};
    state_.periodChecked[index] = true;
    RadioButtonClick(index);
}

void SetupPage::CheckBox_BackupClick() {
    if (window_.Model().firstStatusPending) return;
    ShowBackupSchedule();
    // Switching the schedule off goes out at once; on waits for Set.
    if (!state_.backupChecked) flags_.RequestRefresh(refresh::kConfigWrite);
}

void SetupPage::RadioButtonClick(size_t index) {
    if (index < kBackupPeriods.size()) backupPeriod_ = kBackupPeriods[index];
    if (state_.backupChecked && !window_.Model().firstStatusPending) ShowBackupSchedule();
    Changed();
}

void SetupPage::OptionBoxClick() {
    const ShellModel& m = window_.Model();
    if (m.firstStatusPending || m.slotSwitching) return;
    flags_.RequestRefresh(refresh::kConfigWrite);
}

OpResult SetupPage::SendSettingsCommand(unsigned slot) {
    const ShellModel& m = window_.Model();
    if (drives_.IsLocked() || m.slotSwitching) return OpResult::Failure("An operation holds the enclosures");
    if (drives_.EnclosureCount > 0) drives_.SelectedEnclosure = slot;
    CommandSector& sector = transport_.Command();
    sector.SetCommand(command::kConfiguration, 0);
    sector.bytes[command::kAddress] = 0;
    uint8_t on = 0;
    uint8_t period = 0;
    // The controls hold this enclosure's schedule only once loaded from it.
    const bool pageHoldsIt = scheduleLoaded_ && loadedDrive_ == drives_.DriveOfSlot(slot);
    if (state_.backupChecked && pageHoldsIt) {
        on = 1;
        period = backupPeriod_;
        state_.backupMessage = PeriodText(period);
        Changed();
    } else if (variant_ == ProductVariant::Hybrid && !pageHoldsIt && slot < drives_.EnclosureCount) {
        // An option box changed for an enclosure whose schedule the page
        // never showed: keep the schedule the controller has instead of
        // switching it off or giving it another enclosure's.
        const EnclosureStatus s = SlotStatus(drives_, slot);
        if (s.scheduledBackup) {
            on = 1;
            period = s.backupPeriod;
        }
    }
    sector.bytes[kScheduleOn] = on;
    sector.bytes[kSchedulePeriod] = period;
    // The option boxes send the same command: only a schedule the
    // controller does not have yet is a change of its own.
    bool scheduleChanges = false;
    if (slot < drives_.EnclosureCount) {
        const EnclosureStatus s = SlotStatus(drives_, slot);
        scheduleChanges = (on != 0) != s.scheduledBackup || (on != 0 && period != s.backupPeriod);
    }
    OpResult sent = SendControllerCommandTo(transport_, drives_, m, slot);
    if (scheduleChanges && logLine_)
        logLine_(logtext::ScheduleLine(slot, on != 0, period,
                                       sent.ok ? std::string() : sent.failure.empty() ? "no answer" : sent.failure));
    return sent;
}

}  // namespace kestrel
