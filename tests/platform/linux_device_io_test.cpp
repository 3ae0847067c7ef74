// The Linux device layer on a fake sysfs, mount table and /dev tree; the
// SG_IO requests themselves need real hardware and are not run here.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "wire/drive_table.h"
#include "platform/linux/ata_translation.h"
#include "platform/linux/linux_device_io.h"
#include "platform/pass_through.h"

namespace kestrel::linuxio {
namespace {

namespace fs = std::filesystem;

class FakeRoot {
public:
    FakeRoot() : root_(dir_.path().toStdString()) {}
    void Disk(const std::string& name, uint64_t sectors, bool removable = false, bool device = true) {
        const fs::path d = root_ / "sys/block" / name;
        fs::create_directories(d);
        if (device) fs::create_directories(d / "device");
        Write(d / "size", std::to_string(sectors));
        Write(d / "removable", removable ? "1" : "0");
    }
    void Partition(const std::string& disk, const std::string& name, uint64_t start, uint64_t size) {
        const fs::path p = root_ / "sys/block" / disk / name;
        fs::create_directories(p);
        Write(p / "partition", "1");
        Write(p / "start", std::to_string(start));
        Write(p / "size", std::to_string(size));
    }
    void Node(const std::string& name) { Write(root_ / "dev" / name, ""); }
    void Mounts(const std::string& text) { Write(root_ / "proc/mounts", text); }
    std::string Path() const { return root_.string(); }

private:
    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    QTemporaryDir dir_;
    fs::path root_;
};

class LinuxDeviceIoTest : public ::testing::Test {
protected:
    LinuxDeviceIoTest() {
        root_.Disk("sdb", 4000000, true);
        root_.Disk("nvme0n1", 1000000);
        root_.Disk("sda", 2000000);
        root_.Disk("sdaa", 3000000);
        root_.Disk("loop0", 100, false, false);
        root_.Disk("sr0", 100);
        root_.Disk("dm-0", 100, false, false);
        root_.Partition("sda", "sda2", 4096, 1000);
        root_.Partition("sda", "sda1", 2048, 2048);
        root_.Partition("sdb", "sdb1", 2048, 500000);
        root_.Partition("nvme0n1", "nvme0n1p1", 2048, 9000);
        root_.Node("sda");
        root_.Node("sda1");
        root_.Node("sdb1");
        root_.Mounts(
            "sysfs /sys sysfs rw 0 0\n"
            "/dev/sdb1 /media/usb vfat rw 0 0\n"
            "/dev/sda2 /home ext4 rw 0 0\n"
            "tmpfs /run tmpfs rw 0 0\n"
            "/dev/sda1 / ext4 rw 0 0\n"
            "/dev/sda2 /srv ext4 rw,bind 0 0\n"
            "/dev/nvme0n1p1 /data xfs rw 0 0\n"
            "/dev/loop0 /snap squashfs ro 0 0\n");
    }
    FakeRoot root_;
};

TEST_F(LinuxDeviceIoTest, WholeDisksInDriveOrderAndMountedVolumesInLetterOrder) {
    const DiskMap map = DiskMap::Scan(root_.Path());
    std::vector<std::string> names;
    for (const WholeDisk& d : map.Disks()) names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"sda", "sdb", "sdaa", "nvme0n1"}));

    std::string letters;
    for (const MountedVolume& v : map.Volumes()) letters += std::string(1, v.letter) + "=" + v.device + " ";
    EXPECT_EQ(letters, "C=sda1 D=sda2 E=sdb1 F=nvme0n1p1 ");
    const MountedVolume* d = map.VolumeOf('D');
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->disk, 0u);
    EXPECT_EQ(d->startBytes, 4096u * 512);
    EXPECT_EQ(d->lengthBytes, 1000u * 512);

    LinuxDeviceIo io(root_.Path());
    EXPECT_EQ(io.LogicalDrives(), 0b1111u << 2);
    EXPECT_EQ(io.DriveType("C:\\"), drive_type::kFixed);
    EXPECT_EQ(io.DriveType("E:\\"), drive_type::kRemovable);
    EXPECT_EQ(io.DriveType("G:\\"), drive_type::kNoRootDir);
    EXPECT_EQ(io.DriveType("bogus"), drive_type::kNoRootDir);
}

TEST_F(LinuxDeviceIoTest, OpeningDrivesAndVolumes) {
    LinuxDeviceIo io(root_.Path());
    const DeviceHandle disk = io.Open(PhysicalDrivePath(0));
    EXPECT_NE(disk, kInvalidHandle);
    EXPECT_EQ(io.Open(PhysicalDrivePath(1)), kInvalidHandle) << "sdb has no device node";
    EXPECT_EQ(io.Open(PhysicalDrivePath(4)), kInvalidHandle) << "only four disks";
    EXPECT_EQ(io.Open(PhysicalDrivePath(10)), kInvalidHandle);
    EXPECT_EQ(io.Open(VolumePath('Z')), kInvalidHandle);
    EXPECT_EQ(io.Open("/dev/sda"), kInvalidHandle);

    const DeviceHandle volume = io.Open(VolumePath('E'));
    ASSERT_NE(volume, kInvalidHandle);
    std::array<uint8_t, 32> reply{};
    size_t returned = 0;
    ASSERT_TRUE(io.Control(volume, ioctl::kVolumeDiskExtents, reply, 0, returned));
    const auto extent = passthrough::DecodeExtent(reply, returned);
    ASSERT_TRUE(extent);
    EXPECT_EQ(extent->diskNumber, 1u);
    EXPECT_EQ(extent->startingOffset, 2048u * 512);
    EXPECT_EQ(extent->length, 500000u * 512);
    EXPECT_FALSE(io.Control(disk, ioctl::kVolumeDiskExtents, reply, 0, returned)) << "a disk is no volume";

    // A plain file takes no SG_IO; the request fails cleanly.
    std::array<uint8_t, 80> block{};
    Block512 data{};
    passthrough::ScsiRequest r;
    r.cdb[0] = 0x28;
    r.transferLength = 512;
    r.data = data.data();
    passthrough::EncodeScsi(r, block);
    EXPECT_FALSE(io.Control(disk, ioctl::kScsiPassThroughDirect, block, block.size(), returned));
    std::array<uint8_t, 16> ide{};
    ide[6] = 0x88;
    EXPECT_FALSE(io.Control(disk, ioctl::kIdePassThrough, ide, ide.size(), returned));
    EXPECT_TRUE(io.Control(disk, ioctl::kScsiRescanBus, {}, 0, returned));
    io.Close(disk);
    EXPECT_FALSE(io.Control(disk, ioctl::kScsiRescanBus, {}, 0, returned)) << "closed";
    io.Close(volume);
}

TEST(AtaTranslationTest, TaskfilesBecomeAtaPassThrough16) {
    const std::array<uint8_t, 7> identify{0, 0, 0, 0, 0, 0xE0, 0xEC};
    EXPECT_EQ(AtaPassThrough16(identify, 512),
              (std::array<uint8_t, 16>{0x85, 4 << 1, 0x2E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}));
    const std::array<uint8_t, 7> read{0x01, 0, 0x00, 0x12, 0x07, 0xE0, 0x88};
    EXPECT_EQ(AtaPassThrough16(read, 0),
              (std::array<uint8_t, 16>{0x85, 3 << 1, 0x20, 0, 0x01, 0, 0, 0, 0x00, 0, 0x12, 0, 0x07, 0xE0, 0x88, 0}));

    // Descriptor sense with an ATA Return descriptor after another descriptor.
    std::array<uint8_t, 32> sense{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 18};
    const uint8_t other[4] = {0x00, 0x02, 0xAA, 0xBB};
    std::copy(std::begin(other), std::end(other), sense.begin() + 8);
    const uint8_t ata[14] = {0x09, 0x0C, 0, 0x04, 0, 0x01, 0, 0x11, 0, 0x22, 0, 0x33, 0xE0, 0x51};
    std::copy(std::begin(ata), std::end(ata), sense.begin() + 12);
    std::array<uint8_t, 7> registers{};
    ASSERT_TRUE(ReturnedRegisters(sense, registers));
    EXPECT_EQ(registers, (std::array<uint8_t, 7>{0x04, 0x01, 0x11, 0x22, 0x33, 0xE0, 0x51}));
    sense[7] = 10;  // the descriptor no longer fits the stated length
    EXPECT_FALSE(ReturnedRegisters(sense, registers));
    EXPECT_FALSE(ReturnedRegisters(std::span<const uint8_t>(sense.data(), 5), registers));
}

}  // namespace
}  // namespace kestrel::linuxio
