#pragma once
// The IDE pass-through taskfile as SCSI/ATA Translation carries it: an ATA
// PASS-THROUGH(16) CDB, and the registers that come back in the sense data.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/pass_through.h"

namespace kestrel::linuxio {

// dataBytes > 0 makes a PIO data-in command; its count register carries the
// number of 512-byte blocks when the taskfile leaves it 0 (IDENTIFY
// DEVICE). A non-data command asks for the registers back (CK_COND), since
// they are its result; a data-in command does not.
std::array<uint8_t, 16> AtaPassThrough16(const passthrough::AtaTaskfile& taskfile, uint32_t dataBytes);

// The registers a SAT device returned in its sense data: the ATA Status
// Return descriptor of descriptor-format sense, or, in fixed-format sense
// marked "ATA pass-through information available", the information and
// command-specific information fields. nullopt when the sense carries none.
std::optional<passthrough::AtaReturned> ReturnedRegisters(std::span<const uint8_t> sense);

// The sense key of fixed- or descriptor-format sense data; nullopt when
// there is none.
std::optional<uint8_t> SenseKey(std::span<const uint8_t> sense);

}  // namespace kestrel::linuxio
