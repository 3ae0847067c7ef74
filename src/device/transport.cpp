#include "device/transport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <thread>

#include "wire/byte_order.h"
#include "platform/pass_through.h"

namespace kestrel {

namespace {

constexpr uint32_t kBlockBytes = 512;
constexpr uint32_t kTimeout = 2;
constexpr uint32_t kInquiryTimeout = 200;
constexpr uint32_t kInquiryLength = 36;
constexpr uint32_t kFixedReplyLength = 20;
constexpr unsigned kMaxAtaSectors = 256;

constexpr uint32_t kFixedReplyRead = 2;

struct BridgeShape {
    uint8_t opcode;
    bool dataIn;
    uint32_t length;
    uint8_t probeFlag;
    uint32_t needed;  // reply bytes anybody reads
};

BridgeShape ShapeOf(BridgeKind kind) {
    switch (kind) {
        case BridgeKind::Read: return {0x85, true, 512, 0, 512};
        case BridgeKind::Probe: return {0x85, true, 512, 1, 512};
        case BridgeKind::Write: return {0x89, false, 256, 0, 256};
        case BridgeKind::Erase: return {0x81, true, 8, 0, 0};
        case BridgeKind::Identify: return {0x8B, true, 512, 0, 512};
    }
    return {0, true, 0, 0, 0};
}

std::function<uint32_t()> ClockSeededRandom() {
    auto engine = std::make_shared<std::minstd_rand>(
        static_cast<std::minstd_rand::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
    return [engine] { return static_cast<uint32_t>((*engine)()); };
}

}  // namespace

std::string MailboxErrorText(uint32_t block, bool write) {
    return "Error code " + std::to_string(block) + (write ? "1" : "0");
}

std::string NotSupportedText(unsigned drive) {
    return "Physical drive " + std::to_string(drive) + " is not a supported enclosure; nothing is written to it.";
}

Transport::Transport(DeviceIo& io, MessageBoxes& boxes, StatusBar& bar, TransportOptions options)
    : io_(io), boxes_(boxes), bar_(bar), options_(std::move(options)) {
    if (!options_.pause) options_.pause = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
    if (!options_.random) options_.random = ClockSeededRandom();
}

DeviceHandle Transport::OpenDevice(int driveNumberOrLetter) {
    std::string path;
    if (driveNumberOrLetter < 'C') {
        if (driveNumberOrLetter >= 0 && driveNumberOrLetter < DriveTable::kPhysicalDrives)
            path = PhysicalDrivePath(static_cast<unsigned>(driveNumberOrLetter));
    } else if (driveNumberOrLetter <= 'Z') {
        path = VolumePath(static_cast<char>(driveNumberOrLetter));
    }
    handle_ = path.empty() ? kInvalidHandle : io_.Open(path);
    openDrive_ = handle_ != kInvalidHandle && driveNumberOrLetter < 'C' ? driveNumberOrLetter : -1;
    return handle_;
}

OpResult Transport::OpenOrReport(int driveNumberOrLetter) {
    if (OpenDevice(driveNumberOrLetter) != kInvalidHandle) return OpResult::Success();
    lastFailure_ = "Invalid Drive";  // a box of its own; the panel keeps its text
    boxes_.Show("Invalid Drive", "");
    return OpResult::Failure(lastFailure_);
}

void Transport::ReportFailure(const std::string& text) {
    lastFailure_ = text;
    bar_.SetPanel(kErrorPanel, text);
}

void Transport::CloseDevice() {
    if (handle_ != kInvalidHandle) io_.Close(handle_);
    handle_ = kInvalidHandle;
    openDrive_ = -1;
}

Proof Transport::Admit(unsigned drive, const EnclosureEvidence& evidence) {
    Proof proof = ProveEnclosure(evidence);
    if (drive >= DriveTable::kPhysicalDrives) return proof;
    const uint32_t bit = 1u << drive;
    if (proof.outcome == ProofOutcome::Proven && access::DriveOf(evidence.flags) == drive) admitted_ |= bit;
    else admitted_ &= ~bit;
    return proof;
}

void Transport::RevokeAllBut(std::optional<unsigned> kept) {
    const uint32_t keep = kept && *kept < DriveTable::kPhysicalDrives ? 1u << *kept : 0u;
    admitted_ &= keep;
}

bool Transport::Admitted(unsigned drive) const {
    return drive < DriveTable::kPhysicalDrives && (admitted_.load() & (1u << drive)) != 0;
}

OpResult Transport::OpenForMaintenance(unsigned drive) {
    if (!Admitted(drive)) {
        ReportFailure(NotSupportedText(drive));
        boxes_.Show(NotSupportedText(drive), "Message");
        return OpResult::Failure(NotSupportedText(drive));
    }
    return OpenOrReport(static_cast<int>(drive));
}

bool Transport::WriteAllowed(DeviceHandle handle) {
    writeRefused_ = false;
    if (handle != kInvalidHandle && handle == handle_ && openDrive_ >= 0 && Admitted(static_cast<unsigned>(openDrive_)))
        return true;
    writeRefused_ = true;
    if (handle != kInvalidHandle)
        ReportFailure(openDrive_ >= 0 ? NotSupportedText(static_cast<unsigned>(openDrive_))
                                      : std::string("Nothing is written to a volume."));
    return false;
}

bool Transport::ScsiRequest(DeviceHandle handle, const std::array<uint8_t, 16>& cdb, bool dataIn, uint8_t* data,
                            uint32_t length, uint32_t timeoutSeconds, uint32_t needed) {
    writeRefused_ = false;
    if (handle == kInvalidHandle) return false;
    passthrough::ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;  // every CDB, INQUIRY included, goes as ten bytes
    request.direction = dataIn ? passthrough::scsi::kDirectionIn : passthrough::scsi::kDirectionOut;
    request.transferLength = length;
    request.timeoutSeconds = timeoutSeconds;
    request.data = data;
    std::array<uint8_t, passthrough::scsi::kBlockSize> block{};
    passthrough::EncodeScsi(request, block);
    size_t returned = 0;
    if (!io_.Control(handle, ioctl::kScsiPassThroughDirect, block, block.size(), returned)) return false;
    // A reply nobody reads may be short, but the device must still have
    // answered GOOD: Erase reads nothing and would otherwise never fail.
    const uint32_t moved = passthrough::TransferredLength(block);
    return block[passthrough::scsi::kScsiStatus] == 0 && moved >= needed && moved <= length;
}

bool Transport::ScsiRead10(DeviceHandle handle, uint32_t lba, std::span<uint8_t> buffer, unsigned count) {
    if (count == 0 || count > 0xFF || buffer.size() < size_t{count} * kBlockBytes) return false;
    std::array<uint8_t, 16> cdb{};
    cdb[0] = 0x28;
    bytes::PutBe32(cdb.data() + 2, lba);
    cdb[8] = static_cast<uint8_t>(count);
    return ScsiRequest(handle, cdb, true, buffer.data(), count * kBlockBytes, kTimeout, count * kBlockBytes);
}

bool Transport::ScsiWrite10(DeviceHandle handle, uint32_t lba, std::span<const uint8_t> buffer, unsigned count) {
    if (count == 0 || count > 0xFF || buffer.size() < size_t{count} * kBlockBytes) return false;
    if (!WriteAllowed(handle)) return false;
    std::array<uint8_t, 16> cdb{};
    cdb[0] = 0x2A;
    bytes::PutBe32(cdb.data() + 2, lba);
    cdb[8] = static_cast<uint8_t>(count);
    // The device only reads an outgoing buffer.
    return ScsiRequest(handle, cdb, false, const_cast<uint8_t*>(buffer.data()), count * kBlockBytes, kTimeout, count * kBlockBytes);
}

bool Transport::ScsiInquiry(DeviceHandle handle, std::span<uint8_t> buffer36) {
    if (buffer36.size() < kInquiryLength) return false;
    std::array<uint8_t, 16> cdb{};
    cdb[0] = 0x12;
    cdb[4] = kInquiryLength;
    return ScsiRequest(handle, cdb, true, buffer36.data(), kInquiryLength, kInquiryTimeout, kInquiryLength);
}

bool Transport::BridgeCommand(BridgeKind kind, std::span<uint8_t> buffer, uint32_t address) {
    const BridgeShape shape = ShapeOf(kind);
    if (buffer.size() < shape.length) return false;
    // Erase reads eight bytes back but wipes a flash sector.
    if ((kind == BridgeKind::Write || kind == BridgeKind::Erase) && !WriteAllowed(handle_)) return false;
    std::array<uint8_t, 16> cdb{};
    cdb[0] = 0xFE;
    cdb[1] = 0xFE;
    // The eight-byte tail starts at byte 2 - shift; with shift 1 the opcode
    // takes the place of the second 0xFE.
    uint8_t* tail = cdb.data() + 2 - cdbShift_;
    tail[0] = shape.opcode;
    tail[1] = 0;
    bytes::PutBe24(tail + 2, address);
    tail[5] = 0;
    tail[6] = shape.probeFlag;
    tail[7] = 0;
    return ScsiRequest(handle_, cdb, shape.dataIn, buffer.data(), shape.length, kTimeout, shape.needed);
}

bool Transport::BridgeFixedCommand() {
    std::array<uint8_t, 16> cdb{};
    cdb[0] = 0xFE;
    cdb[1] = 0xFE;
    cdb[2 - cdbShift_] = 0x78;
    return ScsiRequest(handle_, cdb, true, response_.data(), kFixedReplyLength, kTimeout, kFixedReplyRead);
}

bool Transport::AtaCommand(DeviceHandle handle, const AtaTaskfile& taskfile, std::span<uint8_t> buffer,
                           unsigned sectors, AtaReturned* returnedRegisters) {
    if (sectors > kMaxAtaSectors || buffer.size() < size_t{sectors} * kBlockBytes) return false;
    // Only IDENTIFY DEVICE is known to be harmless on any disk; the vendor
    // command changes the controller's state.
    if (taskfile.command != kAtaIdentifyDevice && !WriteAllowed(handle)) return false;
    const size_t dataSize = size_t{sectors} * kBlockBytes;
    const size_t size = dataSize + passthrough::ide::kSlack;
    std::unique_ptr<uint8_t[]> request(new (std::nothrow) uint8_t[size]);
    if (!request) {
        boxes_.Show("Menory Alloc Error!!", "");
        return false;
    }
    std::span<uint8_t> block(request.get(), size);
    std::fill(block.begin(), block.end(), uint8_t{0});
    passthrough::PutTaskfile(taskfile, block);
    bytes::PutLe32(block.data() + passthrough::ide::kDataBufferSize, static_cast<uint32_t>(dataSize));
    block[passthrough::ide::kData] = 1;

    if (taskfile.command == kAtaIdentifyDevice && handle != kInvalidHandle) {
        size_t ignored = 0;
        io_.Control(handle, ioctl::kScsiRescanBus, {}, 0, ignored);
        options_.pause(options_.identifyPause);
    }
    size_t returned = 0;
    const bool ok = handle != kInvalidHandle && io_.Control(handle, ioctl::kIdePassThrough, block, size, returned) &&
                    returned >= passthrough::ide::kData + dataSize;
    if (returnedRegisters) *returnedRegisters = passthrough::GetReturned(block);
    if (ok) std::copy_n(block.begin() + passthrough::ide::kData, dataSize, buffer.begin());
    return ok;
}

bool Transport::SendCommandSector(uint32_t lba) {
    command_.Seal();
    return ScsiWrite10(handle_, lba, command_.bytes, 1);
}

uint32_t Transport::NextMailboxBlock() { return mailbox::kFirstNumbered + (options_.random() & 0x7F); }

}  // namespace kestrel
