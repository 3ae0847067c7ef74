#pragma once
// Reads an enclosure's StatusSector over its access path: opens its drive,
// runs the bridge record search or READ(10) of block 33, shows the failure
// texts, closes the drive.
#include <cstdint>

#include "wire/drive_table.h"
#include "device/transport.h"

namespace kestrel {

class StatusReader {
public:
    explicit StatusReader(Transport& transport) : transport_(transport) {}

    // Reads the status of the enclosure with these access flags. An
    // unopenable drive shows "Invalid Drive". The buffer keeps whatever a
    // failed request left in it.
    [[nodiscard]] OpResult ReadFor(uint32_t accessFlags, Block512& buffer);

    // What the scheduler knows when it asks for a read.
    struct Situation {
        bool detectionRunning = false;    // status reads go to the drive being probed
        bool maintenanceRunning = false;  // status reads go to the locked enclosure
    };

    // The whole read of the committed enclosure in slot: with no enclosure,
    // "Device not found!!!" and "No Device found !" and failure.
    [[nodiscard]] OpResult ReadSlot(const DriveTable& drives, unsigned slot, Block512& buffer);

    // The read as the situation names its enclosure: with no detection
    // running and no enclosure, the texts above and failure; otherwise the
    // locked enclosure while a maintenance operation holds one, the drive
    // being probed while detection runs, else the selected enclosure.
    [[nodiscard]] OpResult ReadStatus(const DriveTable& drives, Situation situation, Block512& buffer);

    // The access flags ReadStatus would use.
    static uint32_t TargetFlags(const DriveTable& drives, Situation situation);

private:
    OpResult NoEnclosure();

    Transport& transport_;
};

}  // namespace kestrel
