// The Linux layer's reading of an SG_IO reply: the sense data of both
// formats (descriptor and fixed) and the outcome of a SCSI and an ATA
// pass-through request. Input: status, host and driver status, residual
// and request length (11 bytes), then the sense bytes.
//
// Properties: nothing is read past the sense bytes (an exact heap copy);
// registers come back only from an ATA Status Return descriptor that lies
// inside the sense's stated length, or from fixed sense marked "ATA
// pass-through information available"; bytes after the stated length of
// descriptor sense change nothing; a transfer is never longer than the
// request, and none unless delivered with GOOD; an ATA command is ok only
// when delivered, all data came and its status shows neither ERR nor DF.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/linux/ata_translation.h"
#include "platform/linux/sg_reply.h"
#include "fuzz_support.h"

using namespace kestrel;
using namespace kestrel::linuxio;

namespace {

bool HasStatusDescriptor(const std::vector<uint8_t>& s) {
    const size_t end = std::min(s.size(), size_t{8} + s[7]);
    for (size_t at = 8; at + 2 <= end; at += size_t{2} + s[at + 1])
        if (s[at] == 0x09 && s[at + 1] == 0x0C && at + 14 <= end) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 11) return -1;
    SgReply reply;
    reply.status = data[0];
    reply.hostStatus = static_cast<uint16_t>(data[1] << 8 | data[2]);
    reply.driverStatus = static_cast<uint16_t>(data[3] << 8 | data[4]);
    int32_t resid;
    std::memcpy(&resid, data + 5, 4);
    reply.resid = resid;
    const uint32_t length = static_cast<uint32_t>(data[9] << 8 | data[10]);
    // An exact copy, so that a read past the end is seen.
    const std::vector<uint8_t> sense(data + 11, data + size);
    reply.sense = sense;

    const auto registers = ReturnedRegisters(sense);
    if (registers) {
        FUZZ_CHECK(sense.size() >= 8, "registers from short sense");
        const uint8_t format = sense[0] & 0x7F;
        if (format == 0x72 || format == 0x73) {
            FUZZ_CHECK(HasStatusDescriptor(sense), "registers without a status return descriptor");
        } else {
            FUZZ_CHECK((format == 0x70 || format == 0x71) && sense.size() >= 14 && sense[12] == 0x00 &&
                           sense[13] == 0x1D,
                       "registers from fixed sense not marked as carrying them");
            FUZZ_CHECK(registers->error == sense[3] && registers->status == sense[4], "fixed sense fields");
        }
    }
    // Descriptor sense ends at its stated length: what follows is ignored.
    if (sense.size() >= 8 && ((sense[0] & 0x7F) == 0x72 || (sense[0] & 0x7F) == 0x73)) {
        const size_t stated = size_t{8} + sense[7];
        if (stated < sense.size()) {
            const std::vector<uint8_t> cut(sense.begin(), sense.begin() + static_cast<long>(stated));
            FUZZ_CHECK(ReturnedRegisters(cut) == registers, "bytes after the stated length changed the registers");
        }
    }

    const uint32_t moved = ScsiTransferred(reply, length);
    FUZZ_CHECK(moved <= length, "more moved than asked");
    if (!Delivered(reply) || reply.status != 0) FUZZ_CHECK(moved == 0, "data from a failed request");
    FUZZ_CHECK(!Delivered(reply) || reply.hostStatus == 0, "delivered with a host error");

    const AtaOutcome ata = AtaResult(reply);
    if (ata.ok) {
        FUZZ_CHECK(Delivered(reply) && reply.resid == 0, "ok without delivery or with missing data");
        if (ata.returned) FUZZ_CHECK((ata.returned->status & 0x21) == 0, "ok with ERR or DF");
        else {
            // Without registers only GOOD, or a check condition whose key says
            // the command completed (NO SENSE, RECOVERED ERROR), is a success.
            const std::optional<uint8_t> key = SenseKey(reply.sense);
            FUZZ_CHECK(reply.status == 0 || (reply.status == 0x02 && key && (*key == 0x00 || *key == 0x01)),
                       "ok without registers, without GOOD and without a completed sense key");
        }
        if (reply.status == 0x02) {
            const std::optional<uint8_t> key = SenseKey(reply.sense);
            FUZZ_CHECK(key && (*key == 0x00 || *key == 0x01), "ok with a failing sense key");
        }
    }
    if (Delivered(reply)) FUZZ_CHECK(ata.returned == registers, "registers differ between the two readings");
    else FUZZ_CHECK(!ata.returned && !ata.ok, "an undelivered reply gave an outcome");
    return 0;
}
