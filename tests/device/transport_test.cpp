// Request bytes as the transport builds them, checked against a recording
// device layer.
#include <gtest/gtest.h>

#include "wire/command_sector.h"
#include "device/transport.h"
#include "wire/byte_order.h"
#include "support/admitted_drives.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

using testing::CompleteWhole;
using testing::IoCall;
namespace scsi = passthrough::scsi;

class TransportTest : public ::testing::Test {
protected:
    TransportTest() : transport_(io_, boxes_, bar_, Options()) {
        io_.reply = [](const IoCall&, std::span<uint8_t> block, size_t&) { return CompleteWhole(block); };
        // The requests go to an open drive that detection admitted.
        testing::AdmitAllDrives(transport_);
        transport_.OpenDevice(0);
        io_.Clear();
    }
    TransportOptions Options() {
        TransportOptions o;
        o.pause = [this](std::chrono::milliseconds d) { io_.events.push_back("pause " + std::to_string(d.count())); };
        o.random = [this] { return nextRandom_; };
        return o;
    }
    std::array<uint8_t, 10> Cdb10(const IoCall& call) {
        std::array<uint8_t, 10> c{};
        for (size_t i = 0; i < 10; ++i) c[i] = call.Cdb(i);
        return c;
    }

    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    uint32_t nextRandom_ = 0;
    Transport transport_;
};

TEST_F(TransportTest, Read10AndWrite10FillThePassThroughBlock) {
    Block512 data{};
    ASSERT_TRUE(transport_.ScsiRead10(7, 0x01020304, data, 1));
    ASSERT_TRUE(transport_.ScsiWrite10(7, 33, data, 1));
    ASSERT_EQ(io_.calls.size(), 2u);
    for (const IoCall& call : io_.calls) {
        EXPECT_EQ(call.code, ioctl::kScsiPassThroughDirect);
        EXPECT_EQ(call.block.size(), 80u);
        EXPECT_EQ(call.inLength, 80u);
        const uint8_t* b = call.block.data();
        EXPECT_EQ(bytes::GetLe16(b + scsi::kLength), 44);
        EXPECT_EQ(b[scsi::kScsiStatus], 0);
        EXPECT_EQ(b[scsi::kPathId], 0);
        EXPECT_EQ(b[scsi::kTargetId], 1);
        EXPECT_EQ(b[scsi::kLun], 0);
        EXPECT_EQ(b[scsi::kCdbLength], 10);
        EXPECT_EQ(b[scsi::kSenseInfoLength], 24);
        EXPECT_EQ(bytes::GetLe32(b + scsi::kDataTransferLength), 512u);
        EXPECT_EQ(bytes::GetLe32(b + scsi::kTimeOutValue), 2u);
        EXPECT_EQ(bytes::GetLe32(b + scsi::kSenseInfoOffset), 48u);
        EXPECT_EQ(call.Scsi().data, data.data());
        for (size_t i = 10; i < 16; ++i) EXPECT_EQ(call.Cdb(i), 0);
    }
    EXPECT_EQ(io_.calls[0].block[scsi::kDataIn], 1);
    EXPECT_EQ(Cdb10(io_.calls[0]), (std::array<uint8_t, 10>{0x28, 0, 1, 2, 3, 4, 0, 0, 1, 0}));
    EXPECT_EQ(io_.calls[1].block[scsi::kDataIn], 0);
    EXPECT_EQ(Cdb10(io_.calls[1]), (std::array<uint8_t, 10>{0x2A, 0, 0, 0, 0, 33, 0, 0, 1, 0}));
}

TEST_F(TransportTest, InquiryGoesAsTenByteCdbWithLongTimeout) {
    std::array<uint8_t, 36> reply{};
    ASSERT_TRUE(transport_.ScsiInquiry(7, reply));
    const IoCall& call = io_.calls.at(0);
    EXPECT_EQ(call.block[scsi::kCdbLength], 10);
    EXPECT_EQ(Cdb10(call), (std::array<uint8_t, 10>{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes::GetLe32(call.block.data() + scsi::kTimeOutValue), 200u);
    EXPECT_EQ(bytes::GetLe32(call.block.data() + scsi::kDataTransferLength), 36u);
    EXPECT_EQ(call.block[scsi::kDataIn], 1);
}

TEST_F(TransportTest, BridgeCommandsWithEitherShift) {
    struct Case {
        BridgeKind kind;
        uint8_t opcode, dataIn, probe;
        uint32_t length;
    };
    const Case cases[] = {{BridgeKind::Read, 0x85, 1, 0, 512},  {BridgeKind::Probe, 0x85, 1, 1, 512},
                          {BridgeKind::Write, 0x89, 0, 0, 256}, {BridgeKind::Erase, 0x81, 1, 0, 8},
                          {BridgeKind::Identify, 0x8B, 1, 0, 512}};
    transport_.OpenDevice(2);
    Block512 buffer{};
    for (const Case& c : cases) {
        for (uint8_t shift : {0, 1}) {
            io_.calls.clear();
            transport_.SetCdbShift(shift);
            ASSERT_TRUE(transport_.BridgeCommand(c.kind, buffer, 0x07ABCD));
            const IoCall& call = io_.calls.at(0);
            EXPECT_EQ(call.handle, 7);
            const std::array<uint8_t, 10> expected =
                shift ? std::array<uint8_t, 10>{0xFE, c.opcode, 0, 0x07, 0xAB, 0xCD, 0, c.probe, 0, 0}
                      : std::array<uint8_t, 10>{0xFE, 0xFE, c.opcode, 0, 0x07, 0xAB, 0xCD, 0, c.probe, 0};
            EXPECT_EQ(Cdb10(call), expected) << "opcode " << int(c.opcode) << " shift " << int(shift);
            EXPECT_EQ(call.block[scsi::kDataIn], c.dataIn);
            EXPECT_EQ(bytes::GetLe32(call.block.data() + scsi::kDataTransferLength), c.length);
            EXPECT_EQ(bytes::GetLe32(call.block.data() + scsi::kTimeOutValue), 2u);
            EXPECT_EQ(call.block[scsi::kTargetId], 1);
        }
    }
    io_.calls.clear();
    transport_.SetCdbShiftFromFlags(0xA2);
    ASSERT_TRUE(transport_.BridgeFixedCommand());
    transport_.SetCdbShiftFromFlags(0x22);
    ASSERT_TRUE(transport_.BridgeFixedCommand());
    EXPECT_EQ(Cdb10(io_.calls[0]), (std::array<uint8_t, 10>{0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Cdb10(io_.calls[1]), (std::array<uint8_t, 10>{0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(io_.calls[1].Scsi().data, transport_.Response().data());
    EXPECT_EQ(io_.calls[1].Scsi().transferLength, 20u);
}

TEST_F(TransportTest, AtaCommandBuildsTheIdeBufferAndRescansOnlyBeforeIdentify) {
    io_.reply = [](const IoCall&, std::span<uint8_t> buffer, size_t& returned) {
        returned = buffer.size();
        return true;
    };
    Block512 data{};
    ASSERT_TRUE(transport_.AtaCommand(7, {.device = 0xE0, .command = 0xEC}, data, 1));
    ASSERT_TRUE(transport_.AtaCommand(7, {.features = 0x03, .command = 0x88}, {}, 0));
    EXPECT_EQ(io_.events, (std::vector<std::string>{"rescan", "pause 500", "ide", "ide"}));

    const IoCall& rescan = io_.calls.at(0);
    EXPECT_EQ(rescan.code, ioctl::kScsiRescanBus);
    EXPECT_TRUE(rescan.block.empty());
    const IoCall& ide = io_.calls.at(1);
    EXPECT_EQ(ide.code, ioctl::kIdePassThrough);
    ASSERT_EQ(ide.block.size(), 512u + 16u);
    EXPECT_EQ(std::vector<uint8_t>(ide.block.begin(), ide.block.begin() + 8),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0xE0, 0xEC, 0}));
    EXPECT_EQ(bytes::GetLe32(ide.block.data() + 8), 512u);
    EXPECT_EQ(ide.block[12], 1);
    const IoCall& mode = io_.calls.at(2);
    ASSERT_EQ(mode.block.size(), 16u);
    EXPECT_EQ(mode.block[0], 0x03);
    EXPECT_EQ(mode.block[6], 0x88);
    EXPECT_EQ(bytes::GetLe32(mode.block.data() + 8), 0u);
    EXPECT_EQ(mode.block[12], 1);
}

TEST_F(TransportTest, FailedAtaCommandUpdatesRegistersButNotData) {
    io_.reply = [](const IoCall& call, std::span<uint8_t> buffer, size_t&) {
        if (call.code == ioctl::kScsiRescanBus) return true;
        buffer[0] = 0x04;  // error: aborted
        buffer[6] = 0x51;  // status: error
        std::fill(buffer.begin() + 12, buffer.end(), uint8_t{0xAB});
        return false;
    };
    Block512 data{};
    data.fill(0x11);
    const AtaTaskfile identify{.device = 0xE0, .command = 0xEC};
    AtaReturned returned;
    EXPECT_FALSE(transport_.AtaCommand(7, identify, data, 1, &returned));
    EXPECT_EQ(returned, (AtaReturned{.error = 0x04, .device = 0xE0, .status = 0x51}));
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(data[511], 0x11);

    // Claiming success with fewer bytes than asked for is a failure too.
    io_.reply = [](const IoCall&, std::span<uint8_t>, size_t& returned) {
        returned = 100;
        return true;
    };
    EXPECT_FALSE(transport_.AtaCommand(7, identify, data, 1));
    EXPECT_EQ(data[0], 0x11);
}

TEST_F(TransportTest, ShortOrOversizedRequestsFail) {
    io_.reply = [](const IoCall&, std::span<uint8_t> block, size_t&) {
        passthrough::CompleteScsi(block, 0, 100);  // the device moved 100 bytes only
        return true;
    };
    Block512 data{};
    EXPECT_FALSE(transport_.ScsiRead10(7, 58, data, 1));
    io_.calls.clear();
    // Buffers too small for what the request would move are never sent.
    std::array<uint8_t, 100> small{};
    EXPECT_FALSE(transport_.ScsiRead10(7, 0, small, 1));
    EXPECT_FALSE(transport_.ScsiRead10(7, 0, data, 2));
    EXPECT_FALSE(transport_.ScsiInquiry(7, std::span<uint8_t>(small.data(), 35)));
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Read, small, 0));
    EXPECT_FALSE(transport_.AtaCommand(7, {}, small, 1));
    EXPECT_TRUE(io_.calls.empty());
}

TEST_F(TransportTest, BridgeRepliesNobodyReadsInFullMayBeShort) {
    uint32_t moved = 0;
    uint8_t status = 0;
    io_.reply = [&](const IoCall&, std::span<uint8_t> block, size_t&) {
        passthrough::CompleteScsi(block, status, moved);
        return true;
    };
    transport_.OpenDevice(0);
    // The fixed command's reply is read for its first two bytes only.
    moved = 2;
    EXPECT_TRUE(transport_.BridgeFixedCommand());
    moved = 1;
    EXPECT_FALSE(transport_.BridgeFixedCommand());
    // Erase's eight bytes are not read at all.
    Block512 buffer{};
    moved = 0;
    EXPECT_TRUE(transport_.BridgeCommand(BridgeKind::Erase, buffer, 0x1000));
    // ... but a refusal still fails it.
    status = 0x02;
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Erase, buffer, 0x1000));
    moved = 2;
    EXPECT_FALSE(transport_.BridgeFixedCommand());
    status = 0;
    // What is read must arrive whole, and nothing may claim more than asked.
    moved = 511;
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Read, buffer, 0));
    moved = 255;
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Write, buffer, 0));
    moved = 21;
    EXPECT_FALSE(transport_.BridgeFixedCommand());
}

TEST_F(TransportTest, OpenDeviceTakesNumbersBelowCAndLetters) {
    EXPECT_EQ(transport_.OpenDevice(5), 7);
    EXPECT_EQ(transport_.OpenDevice('E'), 7);
    EXPECT_EQ(io_.opened, (std::vector<std::string>{"\\\\.\\PhysicalDrive5", "\\\\.\\E:"}));
    for (int refused : {-1, 10, int{'A'}, int{'B'}, int{'['}, 0x1234}) EXPECT_EQ(transport_.OpenDevice(refused), kInvalidHandle);
    EXPECT_EQ(io_.opened.size(), 2u);
    EXPECT_EQ(transport_.Handle(), kInvalidHandle);

    io_.openSucceeds = false;
    EXPECT_FALSE(transport_.OpenOrReport(3));
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Invalid Drive");
    EXPECT_EQ(boxes_.shown[0].caption, "");
}

TEST_F(TransportTest, CommandSectorChecksumAndMailboxBlocks) {
    CommandSector& sector = transport_.Command();
    sector.bytes.fill(0xFF);  // bytes 0-6 and 510-511 stay out of the sum
    sector.Seal();
    EXPECT_EQ(sector.bytes[0], '3');
    EXPECT_EQ(sector.bytes[1], 'X');
    EXPECT_EQ(sector.bytes[510], (503 * 255) & 0xFF);
    EXPECT_EQ(sector.bytes[511], ((503 * 255) >> 8) & 0xFF);
    EXPECT_TRUE(IsValidCommandSector(sector.bytes));
    sector.bytes[300] ^= 1;
    EXPECT_FALSE(IsValidCommandSector(sector.bytes));
    sector.bytes[2] = 0x10;  // outside the sum: re-sealing gives the same sum
    sector.SetAddress(0x123456);
    EXPECT_EQ(sector.bytes[4], 0x12);
    EXPECT_EQ(sector.bytes[6], 0x56);

    for (auto [random, block] : {std::pair<uint32_t, uint32_t>{0, 3}, {0x7F, 130}, {0x80, 3}, {0xFFFFFFFF, 130}}) {
        nextRandom_ = random;
        EXPECT_EQ(transport_.NextMailboxBlock(), block);
    }
    transport_.OpenDevice(1);
    ASSERT_TRUE(transport_.SendCommandSector(20));
    EXPECT_EQ(io_.calls.back().outData, std::vector<uint8_t>(sector.bytes.begin(), sector.bytes.end()));
    EXPECT_TRUE(IsValidCommandSector(sector.bytes));
}

TEST_F(TransportTest, WritesGoOnlyToAnAdmittedDrive) {
    transport_.RevokeAllBut(std::nullopt);
    ASSERT_EQ(transport_.OpenDevice(3), 7);
    Block512 data{};
    EXPECT_FALSE(transport_.ScsiWrite10(7, 20, data, 1));
    EXPECT_FALSE(transport_.SendCommandSector(20));
    EXPECT_FALSE(transport_.AtaCommand(7, {.features = 0x03, .command = 0x88}, {}, 0));
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Write, data, 0));
    EXPECT_FALSE(transport_.BridgeCommand(BridgeKind::Erase, data, 0));
    EXPECT_TRUE(transport_.WriteRefused());
    EXPECT_TRUE(io_.calls.empty()) << "nothing was sent";
    EXPECT_EQ(bar_.Panel(kErrorPanel), NotSupportedText(3));
    // Reads, and IDENTIFY DEVICE, go as before.
    EXPECT_TRUE(transport_.ScsiRead10(7, 58, data, 1));
    EXPECT_FALSE(transport_.WriteRefused());
    io_.reply = [](const IoCall& call, std::span<uint8_t> buffer, size_t& returned) {
        if (call.code != ioctl::kScsiPassThroughDirect) return returned = buffer.size(), true;
        return CompleteWhole(buffer);
    };
    EXPECT_TRUE(transport_.AtaCommand(7, {.device = 0xE0, .command = 0xEC}, data, 1));
    EXPECT_TRUE(transport_.BridgeCommand(BridgeKind::Identify, data, 0));
    EXPECT_EQ(io_.calls.size(), 4u) << "read, rescan, IDENTIFY, bridge Identify";

    // Admitted, the same drive takes them; a volume never does.
    testing::AdmitDrives(transport_, {3});
    EXPECT_TRUE(transport_.ScsiWrite10(7, 20, data, 1));
    ASSERT_EQ(transport_.OpenDevice('E'), 7);
    EXPECT_FALSE(transport_.ScsiWrite10(7, 20, data, 1));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Nothing is written to a volume.");
    // A maintenance operation is refused before the drive opens.
    transport_.RevokeAllBut(3);
    io_.Clear();
    EXPECT_FALSE(transport_.OpenForMaintenance(4));
    EXPECT_TRUE(io_.opened.empty());
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, NotSupportedText(4));
    EXPECT_TRUE(transport_.OpenForMaintenance(3));
}

}  // namespace
}  // namespace kestrel
