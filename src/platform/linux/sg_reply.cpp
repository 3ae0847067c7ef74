#include "platform/linux/sg_reply.h"

#include <algorithm>

#include "platform/linux/ata_translation.h"

namespace kestrel::linuxio {

namespace {
constexpr uint16_t kDriverErrorMask = 0x07;  // the driver byte less its DRIVER_SENSE flag
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kAtaErr = 0x01;
constexpr uint8_t kAtaDeviceFault = 0x20;
}  // namespace

bool Delivered(const SgReply& reply) {
    return reply.hostStatus == 0 && (reply.driverStatus & kDriverErrorMask) == 0;
}

uint32_t ScsiTransferred(const SgReply& reply, uint32_t length) {
    if (!Delivered(reply) || reply.status != kGood) return 0;
    const int resid = std::clamp(reply.resid, 0, static_cast<int>(length));
    return length - static_cast<uint32_t>(resid);
}

AtaOutcome AtaResult(const SgReply& reply) {
    AtaOutcome outcome;
    if (!Delivered(reply)) return outcome;
    outcome.returned = ReturnedRegisters(reply.sense);
    const bool ataOk = outcome.returned ? (outcome.returned->status & (kAtaErr | kAtaDeviceFault)) == 0
                                        : reply.status == kGood;
    outcome.ok = ataOk && reply.resid == 0;
    return outcome;
}

}  // namespace kestrel::linuxio
