#pragma once
// What an SG_IO reply means for the two pass-through requests, kept apart
// from the ioctl so that replies recorded from a real kernel can be
// replayed in tests.
#include <cstdint>
#include <optional>
#include <span>

#include "platform/pass_through.h"

namespace kestrel::linuxio {

// The fields of an sg_io_hdr the kernel fills in.
struct SgReply {
    uint8_t status = 0;         // SCSI status
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;  // DRIVER_SENSE (0x08) only says sense data came along
    int resid = 0;
    std::span<const uint8_t> sense;
};

// The request reached the device and came back: no host adapter error and
// no driver error. A CHECK CONDITION with sense data is the device's
// answer, not a transport failure.
bool Delivered(const SgReply& reply);

// Bytes a SCSI request moved: the length less the residual, and none when
// the device did not answer GOOD (its data cannot be trusted).
uint32_t ScsiTransferred(const SgReply& reply, uint32_t length);

struct AtaOutcome {
    bool ok = false;                                  // the command completed without error, all data in
    std::optional<passthrough::AtaReturned> returned;  // the registers, when the device sent them
};

// The outcome of an ATA PASS-THROUGH(16): GOOD, or CHECK CONDITION with
// sense key NO SENSE or RECOVERED ERROR (how asked-for registers come
// back), is success, unless the returned status shows ERR or DF; any other
// sense key or SCSI status is a failure. Every byte must have moved.
AtaOutcome AtaResult(const SgReply& reply);

}  // namespace kestrel::linuxio
