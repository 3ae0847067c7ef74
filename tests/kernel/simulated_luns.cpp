#include "kernel/simulated_luns.h"

#include <algorithm>
#include <cstdio>

#include "wire/byte_order.h"
#include "platform/pass_through.h"

namespace kestrel::kernelloop {

namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint64_t kBlocks = 131072;  // 64 MiB of 512-byte blocks
constexpr uint32_t kBlockBytes = 512;

std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

ScsiOutcome Refuse(uint8_t asc = 0x20) {  // ILLEGAL REQUEST: invalid opcode, or (0x24) field in CDB
    return {kCheckCondition, {}, FixedSense(0x05, asc, 0x00)};
}

ScsiOutcome Good(std::vector<uint8_t> data = {}) { return {kGood, std::move(data), {}}; }

std::vector<uint8_t> Vpd(unsigned lun, uint8_t page) {
    std::vector<uint8_t> data{0x00, page, 0, 0};
    if (page == 0x00) {
        data.insert(data.end(), {0x00, 0x80, 0x83});
    } else if (page == 0x80) {
        const std::string serial = "KSIMLUN" + std::to_string(lun);
        data.insert(data.end(), serial.begin(), serial.end());
    } else if (page == 0x83) {
        // One T10 vendor identification descriptor, ASCII.
        const std::string id = "KESTREL LUN" + std::to_string(lun);
        data.insert(data.end(), {0x02, 0x01, 0x00, static_cast<uint8_t>(id.size())});
        data.insert(data.end(), id.begin(), id.end());
    } else {
        return {};
    }
    const size_t length = data.size() - 4;
    data[2] = static_cast<uint8_t>(length >> 8);
    data[3] = static_cast<uint8_t>(length);
    return data;
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x ", b);
        text += two;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace

uint8_t CdbLength(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0: return 6;
        case 1:
        case 2: return 10;
        case 4: return 16;
        case 5: return 12;
        default: return 10;  // vendor groups: the bridge's CDBs are ten bytes
    }
}

ScsiOutcome SimulatedLuns::Execute(unsigned lun, std::span<const uint8_t, 16> cdb, uint32_t expectedIn,
                                   std::span<const uint8_t> dataOut) {
    const uint8_t opcode = cdb[0];
    ScsiOutcome out;
    if (lun >= luns_) {
        out = {kCheckCondition, {}, FixedSense(0x05, 0x25, 0x00)};  // logical unit not supported
    } else {
        switch (opcode) {
            case 0x00:  // TEST UNIT READY
            case 0x1B:  // START STOP UNIT
            case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
            case 0x35:  // SYNCHRONIZE CACHE(10)
            case 0x91:  // SYNCHRONIZE CACHE(16)
                out = Good();
                break;
            case 0x12:  // INQUIRY: the standard data is the controller's own
                if (cdb[1] & 0x01) {
                    std::vector<uint8_t> page = Vpd(lun, cdb[2]);
                    out = page.empty() ? Refuse(0x24) : Good(std::move(page));
                } else {
                    out = Simulated(lun, cdb, 6, std::min<uint32_t>(expectedIn, 0xFF), dataOut);
                }
                break;
            case 0x03:  // REQUEST SENSE: nothing pending
                out = Good(FixedSense(0x00, 0x00, 0x00));
                break;
            case 0x25: {  // READ CAPACITY(10)
                std::vector<uint8_t> data(8);
                bytes::PutBe32(data.data(), static_cast<uint32_t>(kBlocks - 1));
                bytes::PutBe32(data.data() + 4, kBlockBytes);
                out = Good(std::move(data));
                break;
            }
            case 0x9E:  // SERVICE ACTION IN(16)
                if ((cdb[1] & 0x1F) == 0x10) {  // READ CAPACITY(16)
                    std::vector<uint8_t> data(32);
                    bytes::PutBe32(data.data(), static_cast<uint32_t>((kBlocks - 1) >> 32));
                    bytes::PutBe32(data.data() + 4, static_cast<uint32_t>(kBlocks - 1));
                    bytes::PutBe32(data.data() + 8, kBlockBytes);
                    out = Good(std::move(data));
                } else {
                    out = Refuse();
                }
                break;
            case 0x1A:  // MODE SENSE(6): a header, no pages
                out = Good({3, 0, 0, 0});
                break;
            case 0x5A:  // MODE SENSE(10)
                out = Good({0, 6, 0, 0, 0, 0, 0, 0});
                break;
            case 0x88:  // READ(16): the array's ordinary blocks read as zeros
                out = Good(std::vector<uint8_t>(expectedIn, 0));
                break;
            case 0x8A:  // WRITE(16): kept nowhere
                out = Good();
                break;
            case 0xA0: {  // REPORT LUNS
                std::vector<uint8_t> data(8 + 8 * size_t{luns_}, 0);
                bytes::PutBe32(data.data(), 8 * luns_);
                for (unsigned n = 0; n < luns_; ++n) data[8 + 8 * n + 1] = static_cast<uint8_t>(n);
                out = Good(std::move(data));
                break;
            }
            case 0x85:  // ATA PASS-THROUGH(16)
                out = AtaPassThrough(lun, cdb, expectedIn);
                break;
            case 0xA3:  // MAINTENANCE IN (supported operation codes)
            case 0xA1:  // ATA PASS-THROUGH(12)
                out = Refuse();
                break;
            default:  // READ/WRITE(10), the bridge's vendor CDBs, anything else
                out = Simulated(lun, cdb, CdbLength(opcode), expectedIn, dataOut);
                break;
        }
    }
    if (out.dataIn.size() > expectedIn) out.dataIn.resize(expectedIn);
    char line[96];
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    std::snprintf(line, sizeof line, "%6lld ms lun %u status 0x%02x in %zu out %zu cdb ", static_cast<long long>(ms.count()),
                  lun, out.status, out.dataIn.size(), dataOut.size());
    std::lock_guard lock(mutex_);
    log_.push_back(line + Hex(cdb.first(CdbLength(opcode))));
    return out;
}

ScsiOutcome SimulatedLuns::Simulated(unsigned lun, std::span<const uint8_t, 16> cdb, uint8_t cdbLength,
                                     uint32_t expectedIn, std::span<const uint8_t> dataOut) {
    std::vector<uint8_t> data(dataOut.empty() ? expectedIn : dataOut.size());
    std::copy(dataOut.begin(), dataOut.end(), data.begin());
    passthrough::ScsiRequest request;
    std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
    request.cdbLength = cdbLength;
    request.direction = !dataOut.empty() ? passthrough::scsi::kDirectionOut
                        : expectedIn     ? passthrough::scsi::kDirectionIn
                                         : passthrough::scsi::kDirectionNone;
    request.transferLength = static_cast<uint32_t>(data.size());
    request.data = data.empty() ? nullptr : data.data();
    std::array<uint8_t, passthrough::scsi::kBlockSize> block{};
    passthrough::EncodeScsi(request, block);
    const DeviceHandle handle = io_.Open(PhysicalDrivePath(lun));
    if (handle == kInvalidHandle) return {kCheckCondition, {}, FixedSense(0x02, 0x3A, 0x00)};  // not ready
    size_t returned = 0;
    const bool answered = io_.Control(handle, ioctl::kScsiPassThroughDirect, block, block.size(), returned);
    io_.Close(handle);
    if (!answered) return Refuse(0x24);
    ScsiOutcome out;
    out.status = block[passthrough::scsi::kScsiStatus];
    if (request.DataIn()) {
        data.resize(std::min<size_t>(data.size(), passthrough::TransferredLength(block)));
        out.dataIn = std::move(data);
    }
    if (out.status != kGood)
        out.sense.assign(block.begin() + passthrough::scsi::kSense,
                         block.begin() + passthrough::scsi::kSense + passthrough::scsi::kSenseInfoLengthUsed);
    return out;
}

ScsiOutcome SimulatedLuns::AtaPassThrough(unsigned lun, std::span<const uint8_t, 16> cdb, uint32_t expectedIn) {
    const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
    const bool checkCondition = cdb[2] & 0x20;
    constexpr uint8_t kNonData = 3, kPioIn = 4;
    if (protocol != kNonData && protocol != kPioIn) return Refuse(0x24);
    const uint32_t size = protocol == kPioIn ? expectedIn : 0;
    std::vector<uint8_t> buffer(passthrough::ide::kData + size + 4, 0);
    passthrough::AtaTaskfile taskfile{cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14]};
    passthrough::PutTaskfile(taskfile, buffer);
    bytes::PutLe32(buffer.data() + passthrough::ide::kDataBufferSize, size);
    const DeviceHandle handle = io_.Open(PhysicalDrivePath(lun));
    if (handle == kInvalidHandle) return {kCheckCondition, {}, FixedSense(0x02, 0x3A, 0x00)};
    size_t returned = 0;
    const bool ok = io_.Control(handle, ioctl::kIdePassThrough, buffer, buffer.size(), returned);
    io_.Close(handle);
    const passthrough::AtaReturned registers = passthrough::GetReturned(buffer);
    constexpr uint8_t kErr = 0x01;
    // A device with no ATA behind it answers no registers at all.
    if (!ok && !(registers.status & kErr)) return Refuse();
    ScsiOutcome out;
    if (ok && size) out.dataIn.assign(buffer.begin() + passthrough::ide::kData, buffer.begin() + passthrough::ide::kData + size);
    if (!ok || checkCondition) {
        // Fixed format: the registers in the information and
        // command-specific fields, "ATA pass-through information available".
        out.status = kCheckCondition;
        out.sense = FixedSense(ok ? 0x01 : 0x0B, 0x00, 0x1D);
        out.sense[3] = registers.error;
        out.sense[4] = registers.status;
        out.sense[5] = registers.device;
        out.sense[6] = registers.count;
        out.sense[9] = registers.lbaLow;
        out.sense[10] = registers.lbaMid;
        out.sense[11] = registers.lbaHigh;
    }
    return out;
}

std::vector<std::string> SimulatedLuns::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

}  // namespace kestrel::kernelloop
