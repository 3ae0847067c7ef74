#include "platform/linux/ata_translation.h"

#include <algorithm>

namespace kestrel::linuxio {

namespace {
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kCheckCondition = 0x20;  // CK_COND
constexpr uint8_t kToHost = 0x08;          // T_DIR
constexpr uint8_t kInBlocks = 0x04;        // BYT_BLOK
constexpr uint8_t kLengthInCount = 0x02;   // T_LENGTH: the count field
constexpr uint8_t kStatusReturnDescriptor = 0x09;
constexpr uint8_t kStatusReturnLength = 0x0C;
// ASC/ASCQ "ATA pass-through information available".
constexpr uint8_t kInformationAsc = 0x00;
constexpr uint8_t kInformationAscq = 0x1D;

// Descriptor-format sense: the ATA Status Return descriptor.
namespace descriptor {
constexpr size_t kError = 3;
constexpr size_t kCount = 5;  // count 7:0
constexpr size_t kLbaLow = 7;
constexpr size_t kLbaMid = 9;
constexpr size_t kLbaHigh = 11;
constexpr size_t kDevice = 12;
constexpr size_t kStatus = 13;
constexpr size_t kSize = 14;
}  // namespace descriptor

// Fixed-format sense: the information field (bytes 3-6) holds error,
// status, device and count; the command-specific information field (bytes
// 8-11) holds flags and the three LBA bytes.
namespace fixed {
constexpr size_t kError = 3;
constexpr size_t kStatus = 4;
constexpr size_t kDevice = 5;
constexpr size_t kCount = 6;
constexpr size_t kLbaLow = 9;
constexpr size_t kLbaMid = 10;
constexpr size_t kLbaHigh = 11;
constexpr size_t kAsc = 12;
constexpr size_t kAscq = 13;
constexpr size_t kSize = 14;
}  // namespace fixed

}  // namespace

std::array<uint8_t, 16> AtaPassThrough16(const passthrough::AtaTaskfile& t, uint32_t dataBytes) {
    std::array<uint8_t, 16> cdb{};
    cdb[0] = kAtaPassThrough16;
    const bool data = dataBytes != 0;
    cdb[1] = static_cast<uint8_t>((data ? kProtocolPioIn : kProtocolNonData) << 1);
    // The registers are asked back only where they are the result: a data-in
    // command learns its outcome from the SCSI status and sense, and with
    // CK_COND libata ends a PIO-in with DRQ still set and aborts it.
    cdb[2] = data ? (kToHost | kInBlocks | kLengthInCount) : kCheckCondition;
    cdb[4] = t.features;
    cdb[6] = (data && t.count == 0) ? static_cast<uint8_t>(dataBytes / 512) : t.count;
    cdb[8] = t.lbaLow;
    cdb[10] = t.lbaMid;
    cdb[12] = t.lbaHigh;
    cdb[13] = t.device;
    cdb[14] = t.command;
    return cdb;
}

std::optional<passthrough::AtaReturned> ReturnedRegisters(std::span<const uint8_t> sense) {
    if (sense.size() < 8) return std::nullopt;
    const uint8_t format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) {
        const size_t end = std::min<size_t>(sense.size(), size_t{8} + sense[7]);
        for (size_t at = 8; at + 2 <= end;) {
            const uint8_t* d = sense.data() + at;
            if (d[0] == kStatusReturnDescriptor && d[1] == kStatusReturnLength && at + descriptor::kSize <= end)
                return passthrough::AtaReturned{d[descriptor::kError],   d[descriptor::kCount],
                                                d[descriptor::kLbaLow],  d[descriptor::kLbaMid],
                                                d[descriptor::kLbaHigh], d[descriptor::kDevice],
                                                d[descriptor::kStatus]};
            at += size_t{2} + d[1];
        }
        return std::nullopt;
    }
    // In fixed format the same fields carry other things for any other
    // condition, so they are registers only when the device says so.
    if ((format == 0x70 || format == 0x71) && sense.size() >= fixed::kSize &&
        sense[fixed::kAsc] == kInformationAsc && sense[fixed::kAscq] == kInformationAscq) {
        const uint8_t* s = sense.data();
        return passthrough::AtaReturned{s[fixed::kError],  s[fixed::kCount],   s[fixed::kLbaLow], s[fixed::kLbaMid],
                                        s[fixed::kLbaHigh], s[fixed::kDevice], s[fixed::kStatus]};
    }
    return std::nullopt;
}

std::optional<uint8_t> SenseKey(std::span<const uint8_t> sense) {
    if (sense.size() < 3) return std::nullopt;
    const uint8_t format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) return static_cast<uint8_t>(sense[1] & 0x0F);
    if (format == 0x70 || format == 0x71) return static_cast<uint8_t>(sense[2] & 0x0F);
    return std::nullopt;
}

}  // namespace kestrel::linuxio
