// The Linux device layer on a fake sysfs, mount table and /dev tree; the
// SG_IO requests themselves need real hardware and are not run here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <fstream>

#include "wire/drive_table.h"
#include "platform/linux/ata_translation.h"
#include "platform/linux/linux_device_io.h"
#include "platform/linux/sg_reply.h"
#include "platform/device_notifier.h"
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
    // The kernel's sequence number of this attachment of the disk.
    void Sequence(const std::string& disk, int seq) { Write(root_ / "sys/block" / disk / "diskseq", std::to_string(seq)); }
    void Generic(const std::string& disk, const std::string& sg) {
        fs::create_directories(root_ / "sys/block" / disk / "device/scsi_generic" / sg);
        Node(sg);
    }
    void Remove(const std::string& disk) { fs::remove_all(root_ / "sys/block" / disk); }
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

std::string OpenedNode(DeviceHandle handle) {
    return fs::read_symlink("/proc/self/fd/" + std::to_string(handle)).filename().string();
}
int AccessMode(DeviceHandle handle) { return ::fcntl(static_cast<int>(handle), F_GETFL) & O_ACCMODE; }

TEST_F(LinuxDeviceIoTest, DisksGoThroughTheirSgNodeReadWriteElseTheBlockNodeReadOnly) {
    root_.Generic("sda", "sg3");
    LinuxDeviceIo io(root_.Path());
    const DeviceHandle generic = io.Open(PhysicalDrivePath(0));
    ASSERT_NE(generic, kInvalidHandle);
    EXPECT_EQ(OpenedNode(generic), "sg3");
    EXPECT_EQ(AccessMode(generic), O_RDWR);
    root_.Node("sdb");
    const DeviceHandle block = io.Open(PhysicalDrivePath(1));
    ASSERT_NE(block, kInvalidHandle);
    EXPECT_EQ(OpenedNode(block), "sdb");
    // Closing a block node opened for writing makes udev send "change".
    EXPECT_EQ(AccessMode(block), O_RDONLY);
    const DeviceHandle volume = io.Open(VolumePath('C'));
    ASSERT_NE(volume, kInvalidHandle);
    EXPECT_EQ(AccessMode(volume), O_RDONLY);
    for (DeviceHandle h : {generic, block, volume}) io.Close(h);
}

TEST_F(LinuxDeviceIoTest, DrivesKeepTheirNumbersWhileAttached) {
    for (const char* name : {"sdb", "sdaa", "nvme0n1", "nvme0n1p1"}) root_.Node(name);
    root_.Sequence("sda", 1);
    root_.Sequence("sdb", 2);
    root_.Sequence("sdaa", 3);
    LinuxDeviceIo io(root_.Path());
    auto nodeOf = [&](unsigned n) {
        const DeviceHandle h = io.Open(PhysicalDrivePath(n));
        if (h == kInvalidHandle) return std::string("-");
        const std::string node = OpenedNode(h);
        io.Close(h);
        return node;
    };
    auto all = [&] {
        std::string text;
        for (unsigned n = 0; n < 5; ++n) text += nodeOf(n) + " ";
        return text;
    };
    EXPECT_EQ(all(), "sda sdb sdaa nvme0n1 - ");

    // sdb is pulled: the others keep their numbers, its number stays free,
    // and so do its drive letters' disk numbers.
    root_.Remove("sdb");
    EXPECT_EQ(all(), "sda - sdaa nvme0n1 - ");
    const DeviceHandle volume = io.Open(VolumePath('E'));
    ASSERT_NE(volume, kInvalidHandle) << "nvme0n1p1 moved up to E:";
    std::array<uint8_t, 32> reply{};
    size_t returned = 0;
    ASSERT_TRUE(io.Control(volume, ioctl::kVolumeDiskExtents, reply, 0, returned));
    EXPECT_EQ(passthrough::DecodeExtent(reply, returned)->diskNumber, 3u);
    io.Close(volume);

    // A new disk takes the lowest free number; a disk replaced under its
    // own name is a new disk.
    root_.Disk("sdc", 100);
    root_.Node("sdc");
    EXPECT_EQ(all(), "sda sdc sdaa nvme0n1 - ");
    root_.Remove("sda");
    root_.Sequence("sdaa", 9);
    EXPECT_EQ(all(), "sdaa sdc - nvme0n1 - ");
}

// Runs body as an unprivileged user (a child process; root drops to
// nobody) and returns what it wrote to its pipe.
std::string AsUnprivileged(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string out = (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ? "setuid failed" : body();
        (void)!::write(pipeFds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string out;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return out;
}

TEST_F(LinuxDeviceIoTest, ANodeThatCannotBeOpenedIsReportedOnce) {
    root_.Generic("sda", "sg3");
    // The tree is readable by anyone; only the disk's node is not.
    fs::permissions(root_.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(fs::path(root_.Path()) / "dev/sg3", fs::perms::owner_read | fs::perms::owner_write);
    const std::string out = AsUnprivileged([&] {
        LinuxDeviceIo io(root_.Path());
        std::string reports;
        io.SetProblemReport([&](const std::string& text) { reports += text + "\n"; });
        for (int i = 0; i < 3; ++i)
            if (io.Open(PhysicalDrivePath(0)) != kInvalidHandle) return std::string("opened");
        return reports;
    });
    const std::string node = root_.Path() + "/dev/sg3";
    EXPECT_EQ(out, "Cannot open " + node + ": Permission denied (run as root, or as a user in the group that owns it, "
                   "usually disk)\n");
}

TEST(AtaTranslationTest, TaskfilesBecomeAtaPassThrough16) {
    const passthrough::AtaTaskfile identify{.device = 0xE0, .command = 0xEC};
    EXPECT_EQ(AtaPassThrough16(identify, 512),
              (std::array<uint8_t, 16>{0x85, 4 << 1, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}))
        << "a data-in command does not ask for the registers (CK_COND clear)";
    const passthrough::AtaTaskfile read{
        .features = 0x01, .lbaLow = 0x00, .lbaMid = 0x12, .lbaHigh = 0x07, .device = 0xE0, .command = 0x88};
    EXPECT_EQ(AtaPassThrough16(read, 0),
              (std::array<uint8_t, 16>{0x85, 3 << 1, 0x20, 0, 0x01, 0, 0, 0, 0x00, 0, 0x12, 0, 0x07, 0xE0, 0x88, 0}));
}

// Sense data as SAT devices send it for an ATA PASS-THROUGH with CK_COND:
// RECOVERED ERROR, "ATA pass-through information available" (00/1D).
std::vector<uint8_t> DescriptorSense(const std::vector<uint8_t>& before = {}) {
    const std::vector<uint8_t> header{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0};
    const std::vector<uint8_t> ata{0x09, 0x0C, 0, 0x04, 0, 0x01, 0, 0x11, 0, 0x22, 0, 0x33, 0xE0, 0x51};
    std::vector<uint8_t> sense(header.size() + before.size() + ata.size());
    std::copy(ata.begin(), ata.end(), std::copy(before.begin(), before.end(), std::copy(header.begin(), header.end(), sense.begin())));
    sense[7] = static_cast<uint8_t>(sense.size() - 8);
    return sense;
}

// Fixed format: error, status, device, count in the information field;
// LBA low, mid, high at the end of the command-specific field.
std::vector<uint8_t> FixedSense(uint8_t error, uint8_t status, uint8_t key = 0x01, uint8_t asc = 0x00,
                                uint8_t ascq = 0x1D) {
    return {0x70, 0, key, error, status, 0xE0, 0x01, 10, 0x00, 0x11, 0x22, 0x33, asc, ascq, 0, 0, 0, 0};
}

TEST(AtaTranslationTest, RegistersComeBackFromBothSenseFormats) {
    const passthrough::AtaReturned expected{0x04, 0x01, 0x11, 0x22, 0x33, 0xE0, 0x51};
    EXPECT_EQ(ReturnedRegisters(DescriptorSense()), expected);
    // After another descriptor.
    EXPECT_EQ(ReturnedRegisters(DescriptorSense({0x00, 0x02, 0xAA, 0xBB})), expected);
    EXPECT_EQ(ReturnedRegisters(FixedSense(0x04, 0x51)), expected);

    std::vector<uint8_t> cut = DescriptorSense();
    cut[7] = 10;  // the descriptor no longer fits the stated length
    EXPECT_EQ(ReturnedRegisters(cut), std::nullopt);
    EXPECT_EQ(ReturnedRegisters(std::span<const uint8_t>(cut.data(), 5)), std::nullopt);
    // Fixed sense of any other condition carries no registers, however its
    // fields read (an unsupported opcode: ILLEGAL REQUEST, 20/00).
    EXPECT_EQ(ReturnedRegisters(FixedSense(0, 0, 0x05, 0x20, 0x00)), std::nullopt);
    EXPECT_EQ(ReturnedRegisters(std::span<const uint8_t>(FixedSense(0x04, 0x51).data(), 12)), std::nullopt);
}

// SG_IO replies as Linux 6.1 gives them (recorded through virtio-scsi and
// an iSCSI disk): CHECK CONDITION with DRIVER_SENSE for every ATA
// PASS-THROUGH with CK_COND, the registers in the sense data.
TEST(SgReplyTest, AtaPassThroughWithCheckConditionIsTheDevicesAnswer) {
    const std::vector<uint8_t> fixedOk = FixedSense(0x00, 0x50);
    const AtaOutcome vendor = AtaResult({0x02, 0, 0x0008, 0, fixedOk});
    EXPECT_TRUE(vendor.ok);
    ASSERT_TRUE(vendor.returned);
    EXPECT_EQ(vendor.returned->status, 0x50);
    EXPECT_EQ(vendor.returned->lbaHigh, 0x33);

    std::vector<uint8_t> descriptorOk = DescriptorSense();
    descriptorOk.back() = 0x50;  // status: ready, no error
    descriptorOk[8 + 3] = 0;     // error register
    EXPECT_TRUE(AtaResult({0x02, 0, 0x0008, 0, descriptorOk}).ok);

    // The drive says ERR: the command failed, the registers still come back.
    const std::vector<uint8_t> fixedErr = FixedSense(0x04, 0x51);
    const AtaOutcome failed = AtaResult({0x02, 0, 0x0008, 0, fixedErr});
    EXPECT_FALSE(failed.ok);
    ASSERT_TRUE(failed.returned);
    EXPECT_EQ(failed.returned->error, 0x04);
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 0, DescriptorSense()}).ok);

    // A device that does not know the command at all.
    const std::vector<uint8_t> illegal = FixedSense(0, 0, 0x05, 0x20, 0x00);
    const AtaOutcome unknown = AtaResult({0x02, 0, 0x0008, 0, illegal});
    EXPECT_FALSE(unknown.ok);
    EXPECT_FALSE(unknown.returned);

    // A data-in command that moved less than asked for, a host adapter
    // error, a driver time-out.
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 512, fixedOk}).ok);
    EXPECT_FALSE(AtaResult({0x02, 0x0007, 0x0008, 0, fixedOk}).ok);
    EXPECT_FALSE(AtaResult({0x00, 0, 0x0006, 0, {}}).ok);
    // Without sense data GOOD status decides.
    EXPECT_TRUE(AtaResult({0x00, 0, 0, 0, {}}).ok);
}

// Replies recorded through QEMU: a target's descriptor sense arrives as
// fixed sense with 00/1D kept and the registers zeroed, and libata's own
// fixed sense for a failed command leaves the information field empty.
TEST(SgReplyTest, TheSenseKeyDecidesWhateverTheRegistersSay) {
    // ABORTED COMMAND with 00/1D and zero registers: status 0x00 would read
    // as a clean completion.
    const std::vector<uint8_t> zeroedAborted = {0x70, 0, 0x0B, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0};
    const AtaOutcome aborted = AtaResult({0x02, 0, 0x0008, 0, zeroedAborted});
    EXPECT_FALSE(aborted.ok);
    ASSERT_TRUE(aborted.returned);
    EXPECT_EQ(aborted.returned->status, 0x00);
    // The same with RECOVERED ERROR is a successful non-data command.
    std::vector<uint8_t> zeroedRecovered = zeroedAborted;
    zeroedRecovered[2] = 0x01;
    EXPECT_TRUE(AtaResult({0x02, 0, 0x0008, 0, zeroedRecovered}).ok);
    // libata on AHCI: IDENTIFY with CK_COND, DRQ left set (00 58 e0 01 in
    // bytes 8-11), and an aborted vendor command (04 41 00 00).
    const std::vector<uint8_t> identifyDrq = {0x70, 0, 0x0B, 0, 0, 0, 0, 10, 0x00, 0x58, 0xE0, 0x01, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 0, identifyDrq}).ok);
    const std::vector<uint8_t> vendorAborted = {0x70, 0, 0x0B, 0, 0, 0, 0, 10, 0x04, 0x41, 0x00, 0x00, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 0, vendorAborted}).ok);
    // Descriptor sense saying ABORTED COMMAND with a clean Status Return.
    std::vector<uint8_t> descriptorAborted = DescriptorSense();
    descriptorAborted[1] = 0x0B;
    descriptorAborted.back() = 0x50;
    descriptorAborted[8 + 3] = 0;
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 0, descriptorAborted}).ok);
    // DF in a RECOVERED ERROR reply fails too.
    EXPECT_FALSE(AtaResult({0x02, 0, 0x0008, 0, FixedSense(0x00, 0x70)}).ok);
    // A data-in command without CK_COND: GOOD and every byte is success;
    // CHECK CONDITION without sense data, or BUSY, is not.
    EXPECT_TRUE(AtaResult({0x00, 0, 0, 0, {}}).ok);
    EXPECT_FALSE(AtaResult({0x02, 0, 0, 0, {}}).ok);
    EXPECT_FALSE(AtaResult({0x08, 0, 0, 0, {}}).ok);
}

TEST(SgReplyTest, ScsiRequestsCountTheBytesMovedOnlyWhenGood) {
    EXPECT_TRUE(Delivered({0x02, 0, 0x0008, 0, {}}));
    EXPECT_EQ(ScsiTransferred({0x00, 0, 0, 0, {}}, 512), 512u);
    EXPECT_EQ(ScsiTransferred({0x00, 0, 0, 12, {}}, 20), 8u);
    EXPECT_EQ(ScsiTransferred({0x00, 0, 0, 900, {}}, 20), 0u);
    EXPECT_EQ(ScsiTransferred({0x00, 0, 0, -5, {}}, 20), 20u);
    const std::vector<uint8_t> illegal = FixedSense(0, 0, 0x05, 0x20, 0x00);
    EXPECT_EQ(ScsiTransferred({0x02, 0, 0x0008, 0, illegal}, 512), 0u);
    EXPECT_EQ(ScsiTransferred({0x00, 0x0001, 0, 0, {}}, 512), 0u);
}

TEST(UdevEventTest, OnlyArrivalAndRemovalCountAsDeviceChanges) {
    EXPECT_TRUE(PresenceAction("add"));
    EXPECT_TRUE(PresenceAction("remove"));
    // udev's "watch" sends "change" whenever a disk node opened for writing
    // is closed: the monitor's own polls must not restart the countdown.
    for (const char* other : {"change", "bind", "unbind", "move", "online", "offline", ""})
        EXPECT_FALSE(PresenceAction(other)) << other;
    EXPECT_FALSE(PresenceAction(nullptr));
}

}  // namespace
}  // namespace kestrel::linuxio
