#pragma once
// The IDE pass-through taskfile as SCSI/ATA Translation carries it: an ATA
// PASS-THROUGH(16) CDB, and the registers that come back in the ATA Return
// descriptor of the sense data.
#include <array>
#include <cstdint>
#include <span>

namespace kestrel::linuxio {

// registers: Features, SectorCount, SectorNumber, CylLow, CylHigh,
// DriveHead, Command (as in IDEREGS). dataBytes > 0 makes a PIO data-in
// command; its sector count register carries the number of 512-byte blocks
// when the taskfile leaves it 0 (IDENTIFY DEVICE). The registers are asked
// back (CK_COND) so the caller sees the status whatever the outcome.
std::array<uint8_t, 16> AtaPassThrough16(std::span<const uint8_t, 7> registers, uint32_t dataBytes);

// Fills registers (error, count, LBA low/mid/high, device, status, in the
// IDEREGS order) from descriptor-format sense data with an ATA Return
// descriptor, or from fixed-format sense data; false when there is none.
bool ReturnedRegisters(std::span<const uint8_t> sense, std::span<uint8_t, 7> registers);

}  // namespace kestrel::linuxio
