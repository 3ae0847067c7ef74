#include "maintenance/disk_operations.h"

#include <string>

#include "eventlog/log_text.h"
#include "maintenance/controller_command.h"

namespace kestrel {

namespace {

constexpr const char* kInitializeCaption = "Auto Partition Message";

struct DiskStep {
    uint8_t code;
    uint8_t argument;
    const char* success;
    const char* failure;
};
constexpr DiskStep kHdd2Id{disk_step::kHdd2Id, 0, "HDD2 ID OK", "HDD2 ID Fail."};
constexpr DiskStep kHdd1Id{disk_step::kHdd1Id, 0, "HDD1 ID OK", "HDD1 ID Fail."};

struct InitializeStep {
    DiskStep step;
    int progressAfter;
};
// The seven steps sent; the eighth only reports.
constexpr InitializeStep kInitializeSteps[] = {
    {kHdd2Id, 10},
    {kHdd1Id, 20},
    {{disk_step::kClearSector, 0x00, "Clr HDD LBA0 OK", "Clr LBA0 Fail."}, 35},
    {{disk_step::kClearSector, 0x10, "Clr HDD LBA16 OK", "Clr LBA16 Fail."}, 50},
    {{disk_step::kClearSector, 0x20, "Clr HDD LBA32 OK", "Clr LBA32 Fail."}, 65},
    {{disk_step::kClearSector, 0x30, "Clr HDD LBA48 OK", "Clr LBA48 Fail."}, 80},
    {{disk_step::kSaveConfiguration, 1, "Save configure OK", "Save configure Fail."}, 90},
};
constexpr DiskStep kRebuildSteps[] = {
    kHdd2Id,
    kHdd1Id,
    {disk_step::kCopyOrRebuild, disk_step::kCopyLba0, "Copy HDD2 LBA0 To HDD1 OK", "Copy HDD2 LBA0 To HDD1 Fail."},
    {disk_step::kCopyOrRebuild, disk_step::kStartRebuild, "Start Rebuilding HDD2 to HDD1 OK",
     "Start Rebuilding HDD2 to HDD1 Fail."},
};
constexpr int kInitializeStepCount = 8;
constexpr const char* kInitialize = "Initialize";
constexpr const char* kRebuild = "Rebuild of HDD1 from HDD2";

}  // namespace

OpResult DiskOperations::SendDiskCommand(uint8_t code, uint8_t argument) {
    CommandSector& sector = transport_.Command();
    sector.SetCommand(command::kDiskCommand, code);
    sector.bytes[command::kAddress] = argument;
    return SendControllerCommandTo(transport_, drives_, window_.Model(), drives_.LockedEnclosure);
}

bool DiskOperations::Busy() const {
    // A detection uses the same transport from its own thread.
    return !lock_.Available() || flags_.Probing.load() || flags_.DetectPending.load();
}

OpResult DiskOperations::RunStep(uint8_t code, uint8_t argument, const char* success, const char* failure) {
    // A transport failure's own text is replaced by the step's.
    const bool ok = SendDiskCommand(code, argument).ok;
    ports_.bar.SetPanel(kErrorPanel, ok ? success : failure);
    return ok ? OpResult::Success() : OpResult::Failure(failure);
}

void DiskOperations::ShowInitializeStep(int k) {
    window_.Model().maintenance.setupStepText = "Process " + std::to_string(k) + " / 8";
    window_.Sync();
    if (ports_.letEventsRun) ports_.letEventsRun();
}

DiskOutcome DiskOperations::Initialize(int slot) {
    if (Busy()) return DiskOutcome::Ignored;
    // Both disks are wiped: nothing happens without a Yes (a window without
    // a person answers No).
    const int device = slot + 1;
    const MessageAnswer answer = lock_.WithBoxOpen([&] {
        const std::string& label = window_.Model().deviceHint[static_cast<size_t>(slot & 1)];
        return ports_.boxes.Show("Initialize will erase all data on both disks of Device" + std::to_string(device) +
                                     (label.empty() ? "" : " (" + label + ")") + ".\nContinue?",
                                 kInitializeCaption, MessageButtons::YesNo);
    });
    if (answer != MessageAnswer::Yes) return DiskOutcome::Ignored;
    // The question let events run: something may have started meanwhile.
    if (Busy()) return DiskOutcome::Ignored;
    lock_.BeginMaintenance();
    drives_.LockedEnclosure = static_cast<unsigned>(slot);
    const unsigned index = static_cast<unsigned>(slot);
    Log(logtext::OperationLine(index, kInitialize, "started"));

    MaintenanceView& view = window_.Model().maintenance;
    view.setupUpdateText = "Auto Partition...";
    flags_.ProgressCounter.store(0);
    view.setupProgressMax = 100;
    view.setupProgressPosition = 0;
    view.setupStepPanelVisible = true;
    if (ports_.timer1) ports_.timer1(true);

    OpResult result = OpResult::Success();
    for (int k = 1; k <= kInitializeStepCount && result.ok; ++k) {
        ShowInitializeStep(k);
        int progress = 100;
        if (k < kInitializeStepCount) {
            const InitializeStep& s = kInitializeSteps[k - 1];
            result = RunStep(s.step.code, s.step.argument, s.step.success, s.step.failure);
            progress = s.progressAfter;
        } else {
            ports_.bar.SetPanel(kErrorPanel, "Create partition OK");
        }
        flags_.ProgressCounter.store(static_cast<uint32_t>(progress));
        view.setupProgressPosition = progress;
        window_.Sync();
    }

    if (ports_.timer1) ports_.timer1(false);
    view.setupStepPanelVisible = false;
    window_.Sync();
    Log(logtext::OperationLine(index, kInitialize, "completed", result.failure));
    // The polls run again while the closing box waits; panel 4 keeps the
    // last step's text.
    lock_.EndMaintenance();
    lock_.WithBoxOpen([&] {
        if (result.ok)
            ports_.boxes.ShowWithIcon(std::string("Auto Partition 8/8 completed!\n") +
                                          "\nPlease power off this device or the system," +
                                          "\nand power on it to start data synchronize!",
                                      kInitializeCaption, MessageIcon::Warning);
        else
            ports_.boxes.Show(result.failure, kInitializeCaption);
    });
    return result.ok ? DiskOutcome::Completed : DiskOutcome::Failed;
}

DiskOutcome DiskOperations::StartRebuild(int slot) {
    if (Busy() || slot < 0 || slot > 1) return DiskOutcome::Ignored;
    lock_.BeginMaintenance();
    drives_.LockedEnclosure = static_cast<unsigned>(slot);
    OpResult result = OpResult::Success();
    for (const DiskStep& s : kRebuildSteps) {
        if (ports_.letEventsRun) ports_.letEventsRun();
        if (!(result = RunStep(s.code, s.argument, s.success, s.failure))) break;
    }
    Log(logtext::OperationLine(static_cast<unsigned>(slot), kRebuild, "started", result.failure));
    lock_.EndMaintenance();
    return result.ok ? DiskOutcome::Completed : DiskOutcome::Failed;
}

}  // namespace kestrel
