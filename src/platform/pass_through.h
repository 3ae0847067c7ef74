#pragma once
// Byte layouts of the requests that travel through DeviceIo::Control: the
// SCSI pass-through direct block with its sense area, the IDE pass-through
// buffer (IDEREGS, data size, data) and the volume disk extents reply. The
// transport encodes them; the simulated PC and the Linux layer decode them
// and refuse anything malformed, as a driver would.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrel::passthrough {

// SCSI pass-through direct block. The data buffer field has the native
// pointer size; on a 64-bit build it takes the four filler bytes after the
// CDB, so the sense area stays at 48 and the block at 80 bytes.
namespace scsi {
inline constexpr size_t kBlockSize = 80;
inline constexpr uint16_t kHeaderLength = 44;  // value of the Length field
inline constexpr size_t kLength = 0;
inline constexpr size_t kScsiStatus = 2;
inline constexpr size_t kPathId = 3;
inline constexpr size_t kTargetId = 4;
inline constexpr size_t kLun = 5;
inline constexpr size_t kCdbLength = 6;
inline constexpr size_t kSenseInfoLength = 7;
inline constexpr size_t kDataIn = 8;
inline constexpr size_t kDataTransferLength = 12;
inline constexpr size_t kTimeOutValue = 16;
inline constexpr size_t kDataBuffer = 20;
inline constexpr size_t kPointerSize = sizeof(void*);
inline constexpr size_t kSenseInfoOffset = kDataBuffer + kPointerSize;
inline constexpr size_t kCdb = kSenseInfoOffset + 4;
inline constexpr size_t kCdbSize = 16;
inline constexpr size_t kSense = 48;
inline constexpr size_t kSenseSize = kBlockSize - kSense;
inline constexpr uint8_t kSenseInfoLengthUsed = 24;
inline constexpr uint8_t kTargetIdUsed = 1;
inline constexpr uint8_t kDirectionOut = 0;
inline constexpr uint8_t kDirectionIn = 1;
inline constexpr uint8_t kDirectionNone = 2;
static_assert(kCdb + kCdbSize <= kSense, "the CDB must end before the sense area");
}  // namespace scsi

struct ScsiRequest {
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 10;
    uint8_t direction = scsi::kDirectionIn;
    uint8_t targetId = scsi::kTargetIdUsed;
    uint8_t senseInfoLength = scsi::kSenseInfoLengthUsed;
    uint32_t transferLength = 0;
    uint32_t timeoutSeconds = 2;
    uint8_t* data = nullptr;
    bool DataIn() const { return direction == scsi::kDirectionIn; }
};

// Zero-fills the block and writes the request into it; false when the block
// is shorter than kBlockSize.
bool EncodeScsi(const ScsiRequest& request, std::span<uint8_t> block);
// Reads a request back, checking it as a driver does: the Length field, a
// CDB length of 6, 10, 12 or 16, a known direction, a data buffer for any
// transfer, a sense area inside the output and the input covering the
// header. nullopt when anything is wrong.
std::optional<ScsiRequest> DecodeScsi(std::span<const uint8_t> block, size_t inLength);
// Writes the outcome fields a driver fills in: SCSI status, the number of
// bytes transferred and the sense data (cut to the sense area).
void CompleteScsi(std::span<uint8_t> block, uint8_t scsiStatus, uint32_t transferred,
                  std::span<const uint8_t> sense = {});
uint32_t TransferredLength(std::span<const uint8_t> block);

// IDE pass-through buffer: IDEREGS (8 bytes), data size (4), data.
namespace ide {
inline constexpr size_t kFeatures = 0;
inline constexpr size_t kSectorCount = 1;
inline constexpr size_t kSectorNumber = 2;
inline constexpr size_t kCylLow = 3;
inline constexpr size_t kCylHigh = 4;
inline constexpr size_t kDriveHead = 5;
inline constexpr size_t kCommand = 6;
inline constexpr size_t kReserved = 7;
inline constexpr size_t kRegisterBytes = 7;  // copied back to the caller
inline constexpr size_t kDataBufferSize = 8;
inline constexpr size_t kData = 12;
inline constexpr size_t kSlack = 16;  // the buffer is data size + 16 bytes
}  // namespace ide

// The taskfile registers as the host writes them into IDEREGS (bytes 0-6).
struct AtaTaskfile {
    uint8_t features = 0;
    uint8_t count = 0;
    uint8_t lbaLow = 0;   // LBA bits 0-7
    uint8_t lbaMid = 0;   // LBA bits 8-15
    uint8_t lbaHigh = 0;  // LBA bits 16-23
    uint8_t device = 0;
    uint8_t command = 0;
    bool operator==(const AtaTaskfile&) const = default;
};

// The registers as the device gives them back, in the same seven places:
// error where features went, status where the command went.
struct AtaReturned {
    uint8_t error = 0;
    uint8_t count = 0;
    uint8_t lbaLow = 0;
    uint8_t lbaMid = 0;
    uint8_t lbaHigh = 0;
    uint8_t device = 0;
    uint8_t status = 0;
    bool operator==(const AtaReturned&) const = default;
};

// Into and out of the first seven bytes of an IDE pass-through buffer
// (at least kRegisterBytes long).
void PutTaskfile(const AtaTaskfile& taskfile, std::span<uint8_t> buffer);
AtaTaskfile GetTaskfile(std::span<const uint8_t> buffer);
void PutReturned(const AtaReturned& returned, std::span<uint8_t> buffer);
AtaReturned GetReturned(std::span<const uint8_t> buffer);

struct IdeRequest {
    AtaTaskfile taskfile;
    uint32_t dataSize = 0;
    uint8_t* data = nullptr;  // inside the buffer, dataSize bytes
};

// nullopt when the buffer or the input is too short for the header and the
// stated data size, or the reserved register is not 0.
std::optional<IdeRequest> DecodeIde(std::span<uint8_t> buffer, size_t inLength);

// Reply of the volume disk extents query: the number of extents and the
// first extent (disk number, starting offset, length), 32 bytes.
namespace extents {
inline constexpr size_t kSize = 32;
inline constexpr size_t kCount = 0;
inline constexpr size_t kDiskNumber = 8;
inline constexpr size_t kStartingOffset = 16;
inline constexpr size_t kLength = 24;
}  // namespace extents

struct DiskExtent {
    uint32_t diskNumber = 0;
    uint64_t startingOffset = 0;
    uint64_t length = 0;
};
bool EncodeExtent(const DiskExtent& extent, std::span<uint8_t> out);
std::optional<DiskExtent> DecodeExtent(std::span<const uint8_t> out, size_t returned);

}  // namespace kestrel::passthrough
