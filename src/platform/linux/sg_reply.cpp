#include "platform/linux/sg_reply.h"

#include <algorithm>

#include "platform/linux/ata_translation.h"

namespace kestrel::linuxio {

namespace {
constexpr uint16_t kDriverErrorMask = 0x07;  // the driver byte less its DRIVER_SENSE flag
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kNoSense = 0x0;
constexpr uint8_t kRecoveredError = 0x1;
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
    bool ok = false;
    if (reply.status == kGood) {
        ok = true;
    } else if (reply.status == kCheckCondition) {
        // Asked-for registers come with NO SENSE or RECOVERED ERROR; any
        // other key is a failure, whatever registers it carries (a bridge
        // may zero them, which would read as a clean status).
        const std::optional<uint8_t> key = SenseKey(reply.sense);
        ok = key && (*key == kNoSense || *key == kRecoveredError);
    }
    if (outcome.returned && (outcome.returned->status & (kAtaErr | kAtaDeviceFault))) ok = false;
    outcome.ok = ok && reply.resid == 0;
    return outcome;
}

}  // namespace kestrel::linuxio
