// Each enclosure operation on each access path, against the simulated
// enclosure, with the requests checked on the way.
#include <gtest/gtest.h>

#include "device/routes.h"
#include "wire/byte_order.h"
#include "sim/simulated_pc.h"
#include "support/admitted_drives.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

using sim::RequestKind;
using testing::FailStep;
using testing::IoCall;

struct Path {
    const char* name;
    uint32_t flags;
};
constexpr Path kMailbox{"m", 0x40};
constexpr Path kAta{"a", 0x11};
constexpr Path kBridge{"b", 0xA2};
constexpr Path kBridge0{"b0", 0x23};
constexpr Path kPaths[] = {kMailbox, kAta, kBridge, kBridge0};

class RoutesTest : public ::testing::Test {
protected:
    RoutesTest()
        : pc_(testing::ScenarioFrom(testing::kEveryPath)), io_(&pc_), transport_(io_, boxes_, bar_, Options()) {
        testing::AdmitAllDrives(transport_);
    }
    TransportOptions Options() {
        TransportOptions o;
        o.pause = [](std::chrono::milliseconds) {};
        o.random = [this] { return random_; };
        return o;
    }
    void Open(const Path& p) {
        ASSERT_NE(transport_.OpenDevice(static_cast<int>(access::DriveOf(p.flags))), kInvalidHandle);
        io_.Clear();
    }
    std::vector<uint8_t> Flash(const Path& p, uint32_t at, size_t n) {
        const auto flash = *pc_.FlashOf(p.name);
        return {flash.begin() + at, flash.begin() + at + static_cast<long>(n)};
    }
    static bool IsWrite(const IoCall& c, uint32_t block) {
        return c.code == ioctl::kScsiPassThroughDirect && c.Cdb(0) == 0x2A && bytes::GetBe32(&c.Scsi().cdb[2]) == block;
    }
    static bool IsRead(const IoCall& c, uint32_t block) {
        return c.code == ioctl::kScsiPassThroughDirect && c.Cdb(0) == 0x28 && bytes::GetBe32(&c.Scsi().cdb[2]) == block;
    }
    static bool IsVendorAta(const IoCall& c, uint8_t feature) {
        return c.code == ioctl::kIdePassThrough && c.block[0] == feature && c.block[6] == 0x88;
    }
    static uint8_t BridgeOpcode(const IoCall& c, const Path& p) { return c.Cdb((p.flags & 0x80) ? 1 : 2); }

    sim::SimulatedPc pc_;
    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    // Numbered mailbox block 3 + (40 & 0x7F) = 43, apart from the fixed block
    // 20 so that a command sent to the wrong one fails.
    static constexpr uint32_t kNumbered = 43;
    uint32_t random_ = 40;
    Transport transport_;
};

TEST_F(RoutesTest, FlashReadOnEachPath) {
    for (const Path& p : kPaths) {
        Open(p);
        ASSERT_TRUE(SendModeCommand(transport_, p.flags, spi_mode::kEnterFlashAccess)) << p.name;
        Block512 block{};
        ASSERT_TRUE(ReadFlashBlock(transport_, p.flags, 0x1200, block)) << p.name;
        EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), Flash(p, 0x1200, 512)) << p.name;
        const auto& c = io_.calls;
        if (p.flags & access::kBridgeCdb) {
            ASSERT_EQ(c.size(), 1u) << "the bridge takes no mode commands";
            EXPECT_EQ(BridgeOpcode(c[0], p), 0x85);
        } else if (p.flags & access::kScsiMailbox) {
            ASSERT_EQ(c.size(), 3u);
            EXPECT_TRUE(IsWrite(c[0], kNumbered) && c[0].outData[2] == 0x03 && c[0].outData[3] == 1);
            EXPECT_TRUE(IsWrite(c[1], kNumbered));
            EXPECT_EQ(std::vector<uint8_t>(c[1].outData.begin() + 2, c[1].outData.begin() + 7),
                      (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x12, 0x00}));
            EXPECT_TRUE(IsRead(c[2], 60));
        } else {
            ASSERT_EQ(c.size(), 3u);
            EXPECT_TRUE(IsVendorAta(c[0], 0x03));
            EXPECT_TRUE(IsVendorAta(c[1], 0x01));
            EXPECT_EQ(std::vector<uint8_t>(c[1].block.begin(), c[1].block.begin() + 7),
                      (std::vector<uint8_t>{0x01, 0, 0x00, 0x12, 0x00, 0xE0, 0x88}));
            EXPECT_TRUE(IsRead(c[2], 60));
        }
        ASSERT_TRUE(SendModeCommand(transport_, p.flags, spi_mode::kLeaveFlashAccess));
        EXPECT_FALSE(pc_.ModesOf(p.name)->flashAccess);
        transport_.CloseDevice();
    }
}

TEST_F(RoutesTest, ProgramOnlyClearsBitsAndEraseRestores) {
    std::array<uint8_t, 256> low{}, high{};
    low.fill(0x0F);
    high.fill(0xF0);
    for (const Path& p : kPaths) {
        Open(p);
        (void)SendModeCommand(transport_, p.flags, spi_mode::kEnterFlashAccess);  // prepares the mode checked below
        const uint32_t at = 0x40000;
        ASSERT_TRUE(EraseFlashSector(transport_, p.flags, at)) << p.name;
        ASSERT_TRUE(ProgramFlashPage(transport_, p.flags, at, low)) << p.name;
        EXPECT_EQ(Flash(p, at, 256), std::vector<uint8_t>(low.begin(), low.end()));
        ASSERT_TRUE(ProgramFlashPage(transport_, p.flags, at, high));
        EXPECT_EQ(Flash(p, at, 256), std::vector<uint8_t>(256, 0x00));
        const IoCall& program = io_.calls.back();
        if (p.flags & access::kBridgeCdb) {
            EXPECT_EQ(BridgeOpcode(program, p), 0x89);
            EXPECT_EQ(program.outData, std::vector<uint8_t>(high.begin(), high.end()));
        } else {
            ASSERT_TRUE(IsWrite(program, 20));
            const auto& s = program.outData;
            EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 7), (std::vector<uint8_t>{'3', 'X', 2, 2, 4, 0, 0}));
            EXPECT_EQ(std::vector<uint8_t>(s.begin() + 7, s.begin() + 263), std::vector<uint8_t>(high.begin(), high.end()));
            EXPECT_EQ(s[509], 0x55);
        }
        ASSERT_TRUE(EraseFlashSector(transport_, p.flags, at + 0x123));
        EXPECT_EQ(Flash(p, at, 4096), std::vector<uint8_t>(4096, 0xFF));
        if (!(p.flags & access::kBridgeCdb)) {
            const auto& s = io_.calls.back().outData;
            EXPECT_EQ(std::vector<uint8_t>(s.begin() + 2, s.begin() + 7), (std::vector<uint8_t>{1, 0x20, 4, 1, 0x23}));
        }
        transport_.CloseDevice();
    }
}

TEST_F(RoutesTest, BootAreaAndFlashModeGuardTheMailboxPaths) {
    std::array<uint8_t, 256> page{};
    for (const Path& p : {kMailbox, kAta}) {
        Open(p);
        EXPECT_FALSE(EraseFlashSector(transport_, p.flags, 0x20000)) << "outside flash access mode";
        EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 201");
        (void)SendModeCommand(transport_, p.flags, spi_mode::kEnterFlashAccess);  // prepares the mode checked below
        bar_.SetPanel(kErrorPanel, "");
        EXPECT_FALSE(ProgramFlashPage(transport_, p.flags, 0x1000, page));
        EXPECT_FALSE(EraseFlashSector(transport_, p.flags, 0xB000));
        EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 201");
        const auto before = Flash(p, 0, 0xC000);
        ASSERT_TRUE(SendModeCommand(transport_, p.flags, spi_mode::kUnlockBootArea));
        EXPECT_TRUE(ProgramFlashPage(transport_, p.flags, 0x1000, page));
        EXPECT_NE(Flash(p, 0, 0xC000), before);
        ASSERT_TRUE(SendModeCommand(transport_, p.flags, spi_mode::kLockBootArea));
        EXPECT_FALSE(EraseFlashSector(transport_, p.flags, 0));
        transport_.CloseDevice();
    }
    // The bridge reaches the flash without modes, the boot area included.
    Open(kBridge);
    EXPECT_TRUE(EraseFlashSector(transport_, kBridge.flags, 0));
    EXPECT_EQ(Flash(kBridge, 0, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST_F(RoutesTest, ModeCommandsPerPathAndTheirFailureTexts) {
    Open(kBridge);
    EXPECT_TRUE(SendModeCommand(transport_, kBridge.flags, spi_mode::kEnterUpgrade));
    EXPECT_TRUE(io_.calls.empty());

    Open(kMailbox);
    EXPECT_FALSE(SendModeCommand(transport_, kMailbox.flags, 7));
    EXPECT_TRUE(io_.calls.empty()) << "a code outside the table is not sent";
    random_ = 0x1F;  // block 34
    ASSERT_TRUE(SendModeCommand(transport_, kMailbox.flags, spi_mode::kEnterUpgrade));
    ASSERT_TRUE(IsWrite(io_.calls.at(0), 34));
    EXPECT_EQ(io_.calls[0].outData[2], 0x10);
    EXPECT_EQ(io_.calls[0].outData[3], 1);
    EXPECT_TRUE(pc_.ModesOf("m")->upgrade);
    pc_.RunStep(FailStep(RequestKind::Mode, "m"));
    EXPECT_FALSE(SendModeCommand(transport_, kMailbox.flags, spi_mode::kLeaveUpgrade));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 341");

    Open(kAta);
    ASSERT_TRUE(SendModeCommand(transport_, kAta.flags, spi_mode::kEnterUpgrade));
    EXPECT_TRUE(IsVendorAta(io_.calls.at(0), 0x11));
    EXPECT_EQ(io_.calls.size(), 1u) << "no rescan before a vendor command";
    pc_.RunStep(FailStep(RequestKind::Mode, "a"));
    EXPECT_FALSE(SendModeCommand(transport_, kAta.flags, spi_mode::kLeaveUpgrade));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "VU command 0x88 FEA 10 Error");
}

TEST_F(RoutesTest, FlashFailureTexts) {
    Block512 block{};
    std::array<uint8_t, 256> page{};
    struct Case {
        Path path;
        RequestKind kind;
        int op;  // 0 read, 1 program, 2 erase
        const char* text;
    };
    const Case cases[] = {
        {kBridge, RequestKind::FlashRead, 0, "Read SPI Error USB"},
        {kBridge, RequestKind::FlashProgram, 1, "Write SPI Error USB"},
        {kBridge, RequestKind::FlashErase, 2, "Erase SPI Error USB"},
        {kAta, RequestKind::FlashRead, 0, "VU command 0x88 FEA 0x01 Read Error"},
        {kAta, RequestKind::FlashResult, 0, "Error code 600"},
        {kMailbox, RequestKind::FlashRead, 0, "Error code 431"},  // the numbered block
        {kMailbox, RequestKind::FlashResult, 0, "Error code 600"},
        {kMailbox, RequestKind::FlashProgram, 1, "Error code 201"},
        {kAta, RequestKind::FlashErase, 2, "Error code 201"},
    };
    for (const Case& c : cases) {
        Open(c.path);
        (void)SendModeCommand(transport_, c.path.flags, spi_mode::kEnterFlashAccess);  // prepares the mode checked below
        pc_.RunStep(FailStep(c.kind, c.path.name));
        bar_.SetPanel(kErrorPanel, "");
        const OpResult r = c.op == 0   ? ReadFlashBlock(transport_, c.path.flags, 0x20000, block)
                           : c.op == 1 ? ProgramFlashPage(transport_, c.path.flags, 0x20000, page)
                                       : EraseFlashSector(transport_, c.path.flags, 0x20000);
        EXPECT_FALSE(r) << c.text;
        EXPECT_EQ(r.failure, c.text) << "the result carries the text the panel shows";
        EXPECT_EQ(bar_.Panel(kErrorPanel), c.text);
        transport_.CloseDevice();
    }
}

TEST_F(RoutesTest, StatusSectorOnEachPathIsTheWholeLiveRecord) {
    for (const Path& p : kPaths) {
        Open(p);
        Block512 status{};
        ASSERT_TRUE(ReadStatusSector(transport_, p.flags, status)) << p.name;
        EXPECT_EQ(status, *pc_.StatusOf(p.name)) << p.name;
        if (p.flags & access::kBridgeCdb) {
            EXPECT_EQ(BridgeOpcode(io_.calls.back(), p), 0x85);
            EXPECT_EQ(io_.calls.back().Scsi().cdb[(p.flags & 0x80) ? 7 : 8], 0) << "the last request is a Read";
            EXPECT_GT(io_.calls.size(), 2u);
        } else {
            ASSERT_EQ(io_.calls.size(), 1u);
            EXPECT_TRUE(IsRead(io_.calls[0], 33));
        }
        pc_.RunStep(FailStep(RequestKind::Status, p.name));
        EXPECT_FALSE(ReadStatusSector(transport_, p.flags, status));
        EXPECT_EQ(bar_.Panel(kErrorPanel), (p.flags & access::kBridgeCdb) ? "Read Error for USB" : "Error code 330");
        transport_.CloseDevice();
    }
}

TEST_F(RoutesTest, ControllerCommandsGoToBlock20OnEveryPath) {
    for (const Path& p : kPaths) {
        Open(p);
        CommandSector& sector = transport_.Command();
        sector.SetCommand(0x20, 0);
        sector.bytes[4] = 0;
        sector.bytes[5] = 1;
        sector.bytes[6] = 30;
        ASSERT_TRUE(SendControllerCommand(transport_)) << p.name;
        ASSERT_TRUE(IsWrite(io_.calls.at(0), 20));
        const Block512 status = *pc_.StatusOf(p.name);
        EXPECT_TRUE(status[56] & 0x04);
        EXPECT_EQ(status[190], 30);
        pc_.RunStep(FailStep(RequestKind::Command, p.name));
        EXPECT_FALSE(SendControllerCommand(transport_));
        EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 201");
        transport_.CloseDevice();
    }
}

// The record search against a flash area the test lays out itself.
class RecordSearchTest : public ::testing::Test {
protected:
    RecordSearchTest() : transport_(io_, boxes_, bar_, TransportOptions{}), flash_(kFlashSize, 0xFF) {
        io_.reply = [this](const IoCall& call, std::span<uint8_t> block, size_t&) {
            const auto r = passthrough::DecodeScsi(block, block.size());
            const uint32_t address = bytes::GetBe24(&r->cdb[3]);  // shift 1
            reads_.push_back({address, r->cdb[7] == 1});
            for (uint32_t i = 0; i < 512; ++i) r->data[i] = address + i < kFlashSize ? flash_[address + i] : 0xFF;
            (void)call;
            passthrough::CompleteScsi(block, 0, 512);
            return true;
        };
        transport_.OpenDevice(0);
    }
    struct Access {
        uint32_t address;
        bool probe;
    };
    uint32_t LastRead() {
        Block512 buffer{};
        EXPECT_TRUE(SearchStatusRecord(transport_, 0xA0, buffer));
        EXPECT_FALSE(reads_.back().probe);
        return reads_.back().address;
    }

    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    Transport transport_;
    std::vector<uint8_t> flash_;
    std::vector<Access> reads_;
};

TEST_F(RecordSearchTest, ErasedAndFullAreasBothEndAtTheLastRecord) {
    EXPECT_EQ(LastRead(), 0x7FF00u);
    EXPECT_EQ(reads_.size(), 128u + 1u);
    reads_.clear();
    std::fill(flash_.begin() + 0x78000, flash_.end(), 0x00);
    EXPECT_EQ(LastRead(), 0x7FF00u);
    EXPECT_EQ(reads_.size(), 1u + 128u + 1u) << "the first written record is probed twice";
    reads_.clear();
    std::fill(flash_.begin() + 0x78000, flash_.end(), 0xFF);
    for (uint32_t at = 0x78400; at < 0x78A00; at += 256) flash_[at] = 0x5A;
    EXPECT_EQ(LastRead(), 0x78900u);
}

}  // namespace
}  // namespace kestrel
