#include "platform/pass_through.h"

#include <algorithm>
#include <cstring>

#include "wire/byte_order.h"

namespace kestrel::passthrough {

using namespace bytes;

bool EncodeScsi(const ScsiRequest& request, std::span<uint8_t> block) {
    if (block.size() < scsi::kBlockSize) return false;
    std::fill(block.begin(), block.end(), uint8_t{0});
    uint8_t* b = block.data();
    PutLe16(b + scsi::kLength, scsi::kHeaderLength);
    b[scsi::kTargetId] = request.targetId;
    b[scsi::kCdbLength] = request.cdbLength;
    b[scsi::kSenseInfoLength] = request.senseInfoLength;
    b[scsi::kDataIn] = request.direction;
    PutLe32(b + scsi::kDataTransferLength, request.transferLength);
    PutLe32(b + scsi::kTimeOutValue, request.timeoutSeconds);
    const auto pointer = reinterpret_cast<std::uintptr_t>(request.data);
    std::memcpy(b + scsi::kDataBuffer, &pointer, scsi::kPointerSize);
    PutLe32(b + scsi::kSenseInfoOffset, static_cast<uint32_t>(scsi::kSense));
    std::memcpy(b + scsi::kCdb, request.cdb.data(), scsi::kCdbSize);
    return true;
}

std::optional<ScsiRequest> DecodeScsi(std::span<const uint8_t> block, size_t inLength) {
    if (block.size() < scsi::kSense || inLength < scsi::kSense || inLength > block.size()) return std::nullopt;
    const uint8_t* b = block.data();
    if (GetLe16(b + scsi::kLength) != scsi::kHeaderLength) return std::nullopt;
    ScsiRequest r;
    r.cdbLength = b[scsi::kCdbLength];
    if (r.cdbLength != 6 && r.cdbLength != 10 && r.cdbLength != 12 && r.cdbLength != 16) return std::nullopt;
    r.direction = b[scsi::kDataIn];
    if (r.direction > scsi::kDirectionNone) return std::nullopt;
    r.targetId = b[scsi::kTargetId];
    r.senseInfoLength = b[scsi::kSenseInfoLength];
    r.transferLength = GetLe32(b + scsi::kDataTransferLength);
    r.timeoutSeconds = GetLe32(b + scsi::kTimeOutValue);
    std::uintptr_t pointer = 0;
    std::memcpy(&pointer, b + scsi::kDataBuffer, scsi::kPointerSize);
    r.data = reinterpret_cast<uint8_t*>(pointer);
    if (r.transferLength != 0 && (r.data == nullptr || r.direction == scsi::kDirectionNone)) return std::nullopt;
    const uint32_t senseOffset = GetLe32(b + scsi::kSenseInfoOffset);
    if (r.senseInfoLength != 0 &&
        (senseOffset < scsi::kSense || senseOffset > block.size() || r.senseInfoLength > block.size() - senseOffset))
        return std::nullopt;
    std::memcpy(r.cdb.data(), b + scsi::kCdb, scsi::kCdbSize);
    return r;
}

void CompleteScsi(std::span<uint8_t> block, uint8_t scsiStatus, uint32_t transferred, std::span<const uint8_t> sense) {
    if (block.size() < scsi::kSense) return;
    block[scsi::kScsiStatus] = scsiStatus;
    PutLe32(block.data() + scsi::kDataTransferLength, transferred);
    const size_t room = std::min<size_t>(block.size() - scsi::kSense, block[scsi::kSenseInfoLength]);
    std::copy_n(sense.begin(), std::min(room, sense.size()), block.begin() + scsi::kSense);
}

uint32_t TransferredLength(std::span<const uint8_t> block) {
    return block.size() < scsi::kSense ? 0 : GetLe32(block.data() + scsi::kDataTransferLength);
}

std::optional<IdeRequest> DecodeIde(std::span<uint8_t> buffer, size_t inLength) {
    if (buffer.size() < ide::kData || inLength < ide::kData || inLength > buffer.size()) return std::nullopt;
    IdeRequest r;
    r.taskfile = GetTaskfile(buffer);
    if (buffer[ide::kReserved] != 0) return std::nullopt;
    r.dataSize = GetLe32(buffer.data() + ide::kDataBufferSize);
    if (r.dataSize > buffer.size() - ide::kData || r.dataSize > inLength - ide::kData) return std::nullopt;
    r.data = buffer.data() + ide::kData;
    return r;
}

void PutTaskfile(const AtaTaskfile& t, std::span<uint8_t> b) {
    b[ide::kFeatures] = t.features;
    b[ide::kSectorCount] = t.count;
    b[ide::kSectorNumber] = t.lbaLow;
    b[ide::kCylLow] = t.lbaMid;
    b[ide::kCylHigh] = t.lbaHigh;
    b[ide::kDriveHead] = t.device;
    b[ide::kCommand] = t.command;
}

AtaTaskfile GetTaskfile(std::span<const uint8_t> b) {
    return {b[ide::kFeatures], b[ide::kSectorCount], b[ide::kSectorNumber], b[ide::kCylLow],
            b[ide::kCylHigh],  b[ide::kDriveHead],   b[ide::kCommand]};
}

void PutReturned(const AtaReturned& r, std::span<uint8_t> b) {
    b[ide::kFeatures] = r.error;
    b[ide::kSectorCount] = r.count;
    b[ide::kSectorNumber] = r.lbaLow;
    b[ide::kCylLow] = r.lbaMid;
    b[ide::kCylHigh] = r.lbaHigh;
    b[ide::kDriveHead] = r.device;
    b[ide::kCommand] = r.status;
}

AtaReturned GetReturned(std::span<const uint8_t> b) {
    return {b[ide::kFeatures], b[ide::kSectorCount], b[ide::kSectorNumber], b[ide::kCylLow],
            b[ide::kCylHigh],  b[ide::kDriveHead],   b[ide::kCommand]};
}

bool EncodeExtent(const DiskExtent& extent, std::span<uint8_t> out) {
    if (out.size() < extents::kSize) return false;
    std::fill_n(out.begin(), extents::kSize, uint8_t{0});
    PutLe32(out.data() + extents::kCount, 1);
    PutLe32(out.data() + extents::kDiskNumber, extent.diskNumber);
    PutLe64(out.data() + extents::kStartingOffset, extent.startingOffset);
    PutLe64(out.data() + extents::kLength, extent.length);
    return true;
}

std::optional<DiskExtent> DecodeExtent(std::span<const uint8_t> out, size_t returned) {
    if (out.size() < extents::kSize || returned < extents::kSize) return std::nullopt;
    if (GetLe32(out.data() + extents::kCount) == 0) return std::nullopt;
    DiskExtent e;
    e.diskNumber = GetLe32(out.data() + extents::kDiskNumber);
    e.startingOffset = GetLe64(out.data() + extents::kStartingOffset);
    e.length = GetLe64(out.data() + extents::kLength);
    return e;
}

}  // namespace kestrel::passthrough
