// The simulated PC as a strict device: malformed and refused requests,
// status records in flash, the timeline, hooks, and use from two threads.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <random>
#include <thread>

#include "device/routes.h"
#include "wire/status_sector.h"
#include "wire/byte_order.h"
#include "sim/sim_clock.h"
#include "sim/simulated_pc.h"
#include "support/admitted_drives.h"
#include "support/recording_ui.h"
#include "support/status_builder.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

using sim::Action;
using sim::RequestKind;
namespace st = kestrel::status;

sim::Step StepOf(Action action, const std::string& enclosure, int disk = 1) {
    sim::Step s;
    s.action = action;
    s.enclosure = enclosure;
    s.disk = disk;
    return s;
}

class SimulatedPcTest : public ::testing::Test {
protected:
    explicit SimulatedPcTest(const char* json = testing::kEveryPath)
        : pc_(testing::ScenarioFrom(json)), transport_(pc_, boxes_, bar_) {
        testing::AdmitAllDrives(transport_);
    }

    bool ReadStatus(uint32_t flags, Block512& out) {
        if (transport_.OpenDevice(static_cast<int>(flags & 0x0F)) == kInvalidHandle) return false;
        const bool ok = ReadStatusSector(transport_, flags, out).ok;
        transport_.CloseDevice();
        return ok;
    }
    size_t Count(RequestKind kind, int drive) {
        size_t n = 0;
        for (const auto& r : pc_.Requests()) n += r.kind == kind && r.drive == drive;
        return n;
    }

    sim::SimulatedPc pc_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    Transport transport_;
};

TEST_F(SimulatedPcTest, CommandSectorsNeedSignatureAndChecksum) {
    const DeviceHandle h = transport_.OpenDevice(0);
    Block512 sector{};
    sector[2] = 0x03;  // enter flash access
    sector[3] = 1;
    EXPECT_FALSE(transport_.ScsiWrite10(h, 20, sector, 1)) << "no signature";
    sector[0] = '3';
    sector[1] = 'X';
    sector[100] = 7;  // checksum left at 0
    EXPECT_FALSE(transport_.ScsiWrite10(h, 20, sector, 1));
    bytes::PutLe16(sector.data() + 510, 7);
    EXPECT_TRUE(transport_.ScsiWrite10(h, 20, sector, 1));
    EXPECT_TRUE(pc_.ModesOf("m")->flashAccess);
    sector[3] = 2;  // no such sub-code
    EXPECT_FALSE(transport_.ScsiWrite10(h, 20, sector, 1));
    EXPECT_FALSE(transport_.ScsiWrite10(h, 20, std::array<uint8_t, 1024>{}, 2)) << "a command is one block";
}

TEST_F(SimulatedPcTest, MalformedRequestsFailWithoutHarm) {
    const DeviceHandle h = pc_.Open(PhysicalDrivePath(0));
    ASSERT_NE(h, kInvalidHandle);
    Block512 data{};
    passthrough::ScsiRequest r;
    r.cdb[0] = 0x28;
    r.cdb[5] = 33;
    r.cdb[8] = 1;
    r.transferLength = 512;
    r.data = data.data();
    std::array<uint8_t, 80> block{};
    size_t returned = 0;
    auto send = [&](auto edit, size_t inLength = 80) {
        passthrough::EncodeScsi(r, block);
        edit(block);
        return pc_.Control(h, ioctl::kScsiPassThroughDirect, block, inLength, returned);
    };
    EXPECT_TRUE(send([](auto&) {}));
    EXPECT_EQ(passthrough::TransferredLength(block), 512u);
    EXPECT_FALSE(send([](auto& b) { b[0] = 43; }));
    EXPECT_FALSE(send([](auto& b) { b[6] = 7; }));
    EXPECT_FALSE(send([](auto& b) { b[8] = 9; }));
    EXPECT_FALSE(send([](auto& b) { b[7] = 40; }));  // sense area past the block
    EXPECT_FALSE(send([](auto&) {}, 40));
    EXPECT_FALSE(pc_.Control(h, ioctl::kScsiPassThroughDirect, std::span<uint8_t>(block.data(), 40), 40, returned));
    // Well formed, but the wrong length for the CDB: refused by the device.
    EXPECT_TRUE(send([](auto& b) { b[12] = 0; b[13] = 1; }));
    EXPECT_EQ(block[2], 0x02) << "check condition";
    EXPECT_EQ(passthrough::TransferredLength(block), 0u);

    std::array<uint8_t, 16> ide{};
    ide[6] = 0xEC;
    bytes::PutLe32(ide.data() + 8, 512);  // claims more data than the buffer holds
    EXPECT_FALSE(pc_.Control(h, ioctl::kIdePassThrough, ide, ide.size(), returned));
    EXPECT_FALSE(pc_.Control(h, 0x12345, block, 80, returned));
    EXPECT_FALSE(pc_.Control(h, ioctl::kVolumeDiskExtents, block, 0, returned)) << "not a volume";
    pc_.Close(h);
    EXPECT_FALSE(pc_.Control(h, ioctl::kScsiPassThroughDirect, block, 80, returned)) << "closed";
    EXPECT_EQ(pc_.Open("\\\\.\\PhysicalDrive10"), kInvalidHandle);
    EXPECT_EQ(pc_.Open("\\\\.\\PhysicalDrive7"), kInvalidHandle);
    EXPECT_EQ(pc_.Open("\\\\.\\1:"), kInvalidHandle);
    EXPECT_EQ(pc_.Open("PhysicalDrive0"), kInvalidHandle);

    // Random blocks whose data field points at a large enough buffer.
    std::mt19937 random(42);
    std::vector<uint8_t> big(1 << 16);
    const DeviceHandle enclosure = pc_.Open(PhysicalDrivePath(5));
    const DeviceHandle bridge = pc_.Open(PhysicalDrivePath(2));
    for (int i = 0; i < 4000; ++i) {
        for (auto& byte : block) byte = static_cast<uint8_t>(random());
        if (i % 2) {
            bytes::PutLe16(block.data(), 44);
            block[6] = 10;
            block[8] = random() % 2;
            if (i % 4) block[passthrough::scsi::kCdb] = 0xFE;
        }
        block[7] = static_cast<uint8_t>(block[7] % 33);
        const auto pointer = reinterpret_cast<std::uintptr_t>(big.data());
        std::memcpy(block.data() + passthrough::scsi::kDataBuffer, &pointer, sizeof pointer);
        bytes::PutLe32(block.data() + passthrough::scsi::kDataTransferLength, random() % big.size());
        pc_.Control(i % 3 ? enclosure : bridge, ioctl::kScsiPassThroughDirect, block, 80, returned);
        std::array<uint8_t, 600> ideBlock{};
        for (auto& byte : ideBlock) byte = static_cast<uint8_t>(random());
        ideBlock[7] = 0;
        bytes::PutLe32(ideBlock.data() + 8, random() % 700);
        pc_.Control(enclosure, ioctl::kIdePassThrough, ideBlock, ideBlock.size(), returned);
    }
    Block512 status{};
    EXPECT_TRUE(ReadStatus(0x55, status)) << "still answers after the noise";
}

TEST_F(SimulatedPcTest, RebuildAdvancesPerStatusReadAndCompletes) {
    pc_.RunStep(StepOf(Action::PullDisk, "b", 2));
    Block512 status{};
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(st::DiskNibble(status[testing::at::kDiskState], 1), st::kAbsent);
    EXPECT_EQ(st::AtaString(status, testing::at::kDisk2Model, 40), "");
    sim::Step insert = StepOf(Action::InsertDisk, "b", 2);
    insert.model = "NEW DISK";
    pc_.RunStep(insert);
    sim::Step rebuild = StepOf(Action::StartRebuild, "b", 2);
    rebuild.percentStep = 40;
    pc_.RunStep(rebuild);
    std::vector<int> progress;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(ReadStatus(0xA2, status));
        progress.push_back(status[testing::at::kActivityFlags] & st::kTargetHdd2 ? status[testing::at::kProgress] : -1);
    }
    EXPECT_EQ(progress, (std::vector<int>{0, 40, 80, 99, -1}));
    EXPECT_EQ(status[testing::at::kDiskState] & 0xF0, 0x20) << "the rebuilt disk is a member again";
    EXPECT_EQ(st::TrimModel(st::AtaString(status, testing::at::kDisk2Model, 40)), "NEW DISK");
}

TEST_F(SimulatedPcTest, StatusRecordsLiveInTheBridgeFlash) {
    auto recordAddresses = [&] {
        std::vector<uint32_t> written;
        const auto flash = *pc_.FlashOf("b");
        for (uint32_t at = 0x78000; at < 0x80000; at += 256)
            if (flash[at] != 0xFF) written.push_back(at);
        return written;
    };
    Block512 status{};
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(recordAddresses(), (std::vector<uint32_t>{0x78000, 0x78100}));
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(recordAddresses().size(), 2u) << "an unchanged status writes no record";
    sim::Step set = StepOf(Action::Set, "b");
    set.fields = {{"temperature", uint64_t{55}}, {"fanRpm", uint64_t{1234}}};
    pc_.RunStep(set);
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(recordAddresses().size(), 2u) << "the second half is answered live, not recorded";
    EXPECT_EQ(status[testing::at::kTemperature], 55);
    set.fields = {{"diskState", uint64_t{0x42}}};
    pc_.RunStep(set);
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(recordAddresses().back(), 0x78200u);
    EXPECT_EQ(status[testing::at::kDiskState], 0x42);
    EXPECT_EQ(status[testing::at::kTemperature], 55);
    EXPECT_EQ(st::FanRpm(status), 1234u);
    const auto flash = *pc_.FlashOf("b");
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x78200, flash.begin() + 0x78300),
              std::vector<uint8_t>(status.begin(), status.begin() + 256));
    EXPECT_EQ(bytes::GetLe16(status.data() + 254), sim::RecordChecksum(status.data()));

    // A full area is erased and starts again from 0x78000.
    std::vector<uint8_t> used(0x8000, 0x11);
    pc_.OverwriteFlash("b", 0x78000, used);
    set.fields = {{"temperature", uint64_t{56}}};
    pc_.RunStep(set);
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(recordAddresses(), (std::vector<uint32_t>{0x78000}));
    EXPECT_EQ(status[testing::at::kTemperature], 56);

    // After the host rewrites the area a read there is plain flash.
    transport_.OpenDevice(2);
    transport_.SetCdbShift(1);
    ASSERT_TRUE(transport_.BridgeCommand(BridgeKind::Erase, status, 0x78000));
    Block512 read{};
    ASSERT_TRUE(transport_.BridgeCommand(BridgeKind::Read, read, 0x78000));
    Block512 erased;
    erased.fill(0xFF);
    EXPECT_EQ(read, erased);
    transport_.CloseDevice();
}

TEST_F(SimulatedPcTest, TimelineStepsFailuresAndHooks) {
    const char* json = R"({
      "host": {"boardVendor": "Board Co", "boardName": "B1", "systemName": "PC-1", "ipAddresses": ["10.0.0.2"]},
      "enclosures": [{"name": "x"}],
      "drives": [{"number": 3, "enclosure": "x"}],
      "volumes": [{"letter": "E", "disk": 3}],
      "timeline": [
        {"afterStatusReads": 2, "enclosure": "x", "action": "fan-alarm"},
        {"at": 1000, "enclosure": "x", "action": "unplug"},
        {"at": 2000, "enclosure": "x", "action": "plug"},
        {"at": 2500, "action": "usb-event"},
        {"at": 3000, "action": "quit"}
      ]})";
    sim::SimulatedPc pc(testing::ScenarioFrom(json));
    Transport transport(pc, boxes_, bar_);
    EXPECT_EQ(pc.Host().boardVendor, "Board Co");
    EXPECT_EQ(pc.Host().ipAddresses, std::vector<std::string>{"10.0.0.2"});
    int changes = 0, quits = 0;
    pc.SetDeviceChangeHook([&] { ++changes; });
    pc.SetQuitHook([&] { ++quits; });
    auto read = [&](Block512& out) {
        if (transport.OpenDevice(3) == kInvalidHandle) return false;
        const bool ok = ReadStatusSector(transport, 0x53, out).ok;
        transport.CloseDevice();
        return ok;
    };
    Block512 status{};
    ASSERT_TRUE(read(status));
    EXPECT_FALSE(status[testing::at::kEnvFlags] & st::kFanFailure);
    ASSERT_TRUE(read(status));
    ASSERT_TRUE(read(status));
    EXPECT_TRUE(status[testing::at::kEnvFlags] & st::kFanFailure) << "raised after the second read";

    pc.RunStep(testing::FailStep(RequestKind::Status, "x", 2));
    EXPECT_FALSE(read(status));
    EXPECT_FALSE(read(status));
    EXPECT_TRUE(read(status));
    pc.RunStep(testing::FailStep(RequestKind::Status, "x", -1));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(read(status));
    pc.RunStep(testing::FailStep(RequestKind::Status, "x", 0));
    EXPECT_TRUE(read(status));

    pc.AdvanceTo(std::chrono::milliseconds(999));
    EXPECT_EQ(changes, 0);
    pc.AdvanceTo(std::chrono::milliseconds(1000));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pc.LogicalDrives(), 0u) << "the volume went with its disk";
    EXPECT_EQ(pc.DriveType("E:\\"), drive_type::kNoRootDir);
    EXPECT_EQ(transport.OpenDevice(3), kInvalidHandle);
    pc.AdvanceTo(std::chrono::milliseconds(2600));
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(pc.LogicalDrives(), 1u << ('E' - 'A'));
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(pc.TimelineDone());
    pc.AdvanceTo(std::chrono::milliseconds(5000));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(pc.TimelineDone());
}

TEST_F(SimulatedPcTest, RequestsAreRecordedByKindAndDrive) {
    Block512 status{};
    pc_.ClearRequests();
    ASSERT_TRUE(ReadStatus(0x11, status));
    const auto log = pc_.Requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, RequestKind::Open);
    EXPECT_EQ(log[1].kind, RequestKind::Status);
    EXPECT_EQ(log[1].drive, 1);
    EXPECT_TRUE(log[1].ok);
    EXPECT_LE(log[0].time, log[1].time);
    ASSERT_TRUE(ReadStatus(0xA2, status));
    EXPECT_EQ(Count(RequestKind::Status, 2), 1u);
    EXPECT_GE(Count(RequestKind::Probe, 2), 2u);
}

TEST_F(SimulatedPcTest, TwoThreadsAtOnceKeepItConsistent) {
    MemoryStatusBar otherBar;
    testing::RecordingMessageBoxes otherBoxes;
    Transport other(pc_, otherBoxes, otherBar);
    std::atomic<int> failures{0};
    std::thread worker([&] {
        Block512 status{};
        for (int i = 0; i < 200; ++i) {
            if (other.OpenDevice(2) == kInvalidHandle || !ReadStatusSector(other, 0xA2, status)) ++failures;
            other.CloseDevice();
        }
    });
    Block512 status{};
    sim::Step set = StepOf(Action::Set, "b");
    for (int i = 0; i < 200; ++i) {
        set.fields = {{"temperature", uint64_t(i % 90)}};
        pc_.RunStep(set);
        if (!ReadStatus(0x40, status)) ++failures;
    }
    worker.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(pc_.StatusReadsOf("b"), 200u);
    EXPECT_EQ(pc_.StatusReadsOf("m"), 200u);
}

TEST(SimClockTest, FiresTimedStepsScaledByTheTimeScale) {
    sim::SimulatedPc pc(testing::ScenarioFrom(R"({"timeline": [{"at": 20000, "action": "quit"}]})"));
    bool quit = false;
    pc.SetQuitHook([&] { quit = true; });
    sim::SimClock clock(pc, 0.002, nullptr);  // 20 s of scenario in 40 ms
    clock.Start();
    EXPECT_FALSE(quit);
    QElapsedTimer waited;
    waited.start();
    while (!quit && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(quit);
    EXPECT_GE(waited.elapsed(), 30);
}

}  // namespace
}  // namespace kestrel
