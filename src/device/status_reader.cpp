#include "device/status_reader.h"

#include "device/routes.h"

namespace kestrel {

OpResult StatusReader::ReadFor(uint32_t accessFlags, Block512& buffer) {
    if (OpResult opened = transport_.OpenOrReport(static_cast<int>(access::DriveOf(accessFlags))); !opened)
        return opened;
    OpResult read = ReadStatusSector(transport_, accessFlags, buffer);
    transport_.CloseDevice();
    return read;
}

uint32_t StatusReader::TargetFlags(const DriveTable& drives, Situation situation) {
    if (situation.maintenanceRunning && drives.IsLocked()) return drives.EnclosureFlags[drives.LockedEnclosure % DriveTable::kMaxEnclosures];
    if (situation.detectionRunning) return drives.ProbingFlags;
    return drives.EnclosureFlags[drives.SelectedEnclosure % DriveTable::kMaxEnclosures];
}

OpResult StatusReader::NoEnclosure() {
    transport_.ReportFailure("Device not found!!!");
    transport_.Boxes().Show("No Device found !", "Message");
    return OpResult::Failure("Device not found!!!");
}

OpResult StatusReader::ReadSlot(const DriveTable& drives, unsigned slot, Block512& buffer) {
    if (drives.EnclosureCount == 0) return NoEnclosure();
    return ReadFor(drives.EnclosureFlags[slot % DriveTable::kMaxEnclosures], buffer);
}

OpResult StatusReader::ReadStatus(const DriveTable& drives, Situation situation, Block512& buffer) {
    if (!situation.detectionRunning && drives.EnclosureCount == 0) return NoEnclosure();
    return ReadFor(TargetFlags(drives, situation), buffer);
}

}  // namespace kestrel
