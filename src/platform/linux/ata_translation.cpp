#include "platform/linux/ata_translation.h"

namespace kestrel::linuxio {

namespace {
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kCheckCondition = 0x20;  // CK_COND
constexpr uint8_t kToHost = 0x08;          // T_DIR
constexpr uint8_t kInBlocks = 0x04;        // BYT_BLOK
constexpr uint8_t kLengthInCount = 0x02;   // T_LENGTH: the sector count field
constexpr uint8_t kReturnDescriptor = 0x09;
}  // namespace

std::array<uint8_t, 16> AtaPassThrough16(std::span<const uint8_t, 7> r, uint32_t dataBytes) {
    std::array<uint8_t, 16> cdb{};
    cdb[0] = kAtaPassThrough16;
    const bool data = dataBytes != 0;
    cdb[1] = static_cast<uint8_t>((data ? kProtocolPioIn : kProtocolNonData) << 1);
    cdb[2] = kCheckCondition;
    if (data) cdb[2] |= kToHost | kInBlocks | kLengthInCount;
    cdb[4] = r[0];
    cdb[6] = (data && r[1] == 0) ? static_cast<uint8_t>(dataBytes / 512) : r[1];
    cdb[8] = r[2];
    cdb[10] = r[3];
    cdb[12] = r[4];
    cdb[13] = r[5];
    cdb[14] = r[6];
    return cdb;
}

bool ReturnedRegisters(std::span<const uint8_t> sense, std::span<uint8_t, 7> out) {
    if (sense.size() < 8) return false;
    const uint8_t format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) {
        const size_t end = std::min<size_t>(sense.size(), size_t{8} + sense[7]);
        for (size_t at = 8; at + 2 <= end;) {
            const size_t length = size_t{2} + sense[at + 1];
            if (sense[at] == kReturnDescriptor && at + 14 <= end) {
                const uint8_t* d = sense.data() + at;
                out[0] = d[3];   // error
                out[1] = d[5];   // count 7:0
                out[2] = d[7];   // LBA 7:0
                out[3] = d[9];   // LBA 15:8
                out[4] = d[11];  // LBA 23:16
                out[5] = d[12];  // device
                out[6] = d[13];  // status
                return true;
            }
            at += length;
        }
        return false;
    }
    if ((format == 0x70 || format == 0x71) && sense.size() >= 7) {
        out[0] = sense[3];  // error
        out[6] = sense[4];  // status
        out[5] = sense[5];  // device
        out[1] = sense[6];  // count 7:0
        return true;
    }
    return false;
}

}  // namespace kestrel::linuxio
