#pragma once
// The two controller-driven disk operations of the Hybrid program: Initialize
// (the eight steps of the Setup page's "auto partition") and the HDD2-to-HDD1
// rebuild the Status page offers for a new SSD. Each is a sequence of disk
// steps sent to the locked enclosure, stopping at the first failure; the
// controller does the work.
#include <cstdint>
#include <functional>
#include <string>

#include "device/transport.h"
#include "maintenance/maintenance_lock.h"
#include "monitor/scheduler_flags.h"
#include "monitor/window_state.h"
#include "platform/op_result.h"
#include "platform/user_interface.h"
#include "wire/drive_table.h"

namespace kestrel {

// Step codes (command sector byte 3) and their arguments (byte 4).
namespace disk_step {
inline constexpr uint8_t kHdd1Id = 1;
inline constexpr uint8_t kHdd2Id = 2;
inline constexpr uint8_t kSaveConfiguration = 3;
inline constexpr uint8_t kClearSector = 4;
inline constexpr uint8_t kCopyOrRebuild = 6;
inline constexpr uint8_t kCopyLba0 = 1;
inline constexpr uint8_t kStartRebuild = 2;
}  // namespace disk_step

enum class DiskOutcome {
    Ignored,    // another operation or a detection was running, or the user said No
    Failed,     // a step failed; its text is in panel 4
    Completed,  // every step succeeded
};

struct DiskOperationPorts {
    // The user's own boxes (the confirmation and the closing box).
    MessageBoxes& boxes;
    StatusBar& bar;
    // Starts (true) or stops (false) Timer1; may be empty.
    std::function<void(bool)> timer1;
    // Runs pending window events between steps; may be empty.
    std::function<void()> letEventsRun;
    // Receives the day-log lines: Initialize's start and result, a rebuild's
    // start; may be empty.
    std::function<void(const std::string& line)> logLine = {};
};

class DiskOperations {
public:
    DiskOperations(Transport& transport, MaintenanceLock& lock, DriveTable& drives, SchedulerFlags& flags,
                   WindowState& window, DiskOperationPorts ports)
        : transport_(transport), lock_(lock), drives_(drives), flags_(flags), window_(window),
          ports_(std::move(ports)) {}

    // Sets bytes 2..4 of the command sector (the rest stays as the last
    // command left it) and sends it to the locked enclosure.
    [[nodiscard]] OpResult SendDiskCommand(uint8_t code, uint8_t argument);

    // Set on the Initialize sub-page: asks first (default No), then runs the
    // eight steps on the enclosure in slot (the Status page's).
    [[nodiscard]] DiskOutcome Initialize(int slot);
    // Yes to restoring data onto a new SSD: the four rebuild steps on the
    // enclosure in slot.
    [[nodiscard]] DiskOutcome StartRebuild(int slot);

private:
    bool Busy() const;
    // Sends one step and puts its success or failure text in panel 4.
    OpResult RunStep(uint8_t code, uint8_t argument, const char* success, const char* failure);
    void ShowInitializeStep(int k);
    void Log(const std::string& line) {
        if (ports_.logLine) ports_.logLine(line);
    }

    Transport& transport_;
    MaintenanceLock& lock_;
    DriveTable& drives_;
    SchedulerFlags& flags_;
    WindowState& window_;
    DiskOperationPorts ports_;
};

}  // namespace kestrel
