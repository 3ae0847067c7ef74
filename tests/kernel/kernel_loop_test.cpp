// The real Linux SCSI stack in the loop: Debian's own kernel, booted by
// QEMU (TCG), attaches the simulated PC's drives, served by an iSCSI target
// on 127.0.0.1, as passthrough SCSI disks on the buses a user's enclosure
// takes (virtio-scsi, and USB storage and UAS on xHCI); the program's
// device layer runs in the guest against them (SG_IO on /dev/sgN) and its
// report must equal the report of the same code run on the host against
// the simulated PC directly, and a firmware upgrade must leave each
// controller's flash equal to the image. Plain disks with known contents on
// virtio-scsi, AHCI and USB storage, some carrying an enclosure's signature,
// must come out of detection, polls and attempted maintenance unchanged.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "kernel/iscsi_target.h"
#include "kernel/probe.h"
#include "kernel/simulated_luns.h"
#include "sim/controller.h"
#include "sim/simulated_pc.h"
#include "sim/status_fields.h"
#include "platform/pass_through.h"
#include "support/sim_scenarios.h"

namespace kestrel::kernelloop {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A statically linked executable has no program interpreter.
bool StaticElf(const fs::path& path) {
    const std::string bytes = ReadFile(path);
    if (bytes.size() < sizeof(Elf64_Ehdr) || bytes.compare(0, 4, ELFMAG) != 0) return false;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        const size_t at = header.e_phoff + size_t{i} * header.e_phentsize;
        if (at + sizeof(Elf64_Phdr) > bytes.size()) return false;
        Elf64_Phdr program;
        std::memcpy(&program, bytes.data() + at, sizeof program);
        if (program.p_type == PT_INTERP) return false;
    }
    return true;
}

fs::path GuestKernelDir() {
    if (const char* dir = std::getenv("KESTREL_GUEST_KERNEL")) return dir;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) return fs::path(cache) / "kestrel/guest-kernel";
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/root") / ".cache/kestrel/guest-kernel";
}

// An initramfs in the "newc" cpio format, uncompressed.
class Cpio {
public:
    void Directory(const std::string& name) { Entry(name, 040755, {}); }
    void File(const std::string& name, const std::string& data, unsigned mode = 0100644) { Entry(name, mode, data); }
    std::string Finish() {
        Entry("TRAILER!!!", 0, {});
        return out_;
    }

private:
    void Entry(const std::string& name, unsigned mode, const std::string& data) {
        char header[111];
        std::snprintf(header, sizeof header, "070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X", ++inode_,
                      mode, 0u, 0u, 1u, 0u, static_cast<unsigned>(data.size()), 0u, 0u, 0u, 0u,
                      static_cast<unsigned>(name.size() + 1), 0u);
        out_ += header;
        out_ += name;
        out_ += '\0';
        Pad();
        out_ += data;
        Pad();
    }
    void Pad() { out_.append((4 - out_.size() % 4) % 4, '\0'); }
    std::string out_;
    unsigned inode_ = 0;
};

constexpr const char* kInit = R"init(#!/bin/busybox sh
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t sysfs sysfs /sys
$b mount -t devtmpfs devtmpfs /dev
for m in $($b cat /modules/order); do $b insmod /modules/$m.ko || echo "insmod $m failed"; done
# The disks attach on their own; wait until every one has its sd and sg node.
n=0
while [ $n -lt 600 ]; do
  disks=$($b ls /sys/block | $b grep -c '^sd')
  generic=$($b ls /sys/class/scsi_generic 2>/dev/null | $b wc -l)
  [ "$disks" -ge @DRIVES@ ] && [ "$generic" -ge @DRIVES@ ] && [ -e /dev/sg$((@DRIVES@ - 1)) ] && break
  $b sleep 0.1
  n=$((n + 1))
done
echo "guest: $disks disks, $generic sg nodes"
# Which USB driver took the disks' interfaces.
echo "guest usb drivers: uas $($b ls /sys/bus/usb/drivers/uas 2>/dev/null | $b grep -c :)" \
  "usb-storage $($b ls /sys/bus/usb/drivers/usb-storage 2>/dev/null | $b grep -c :)"
@RUN@
$b poweroff -f
)init";

// Runs of the probe: as root, then as a service user in the disk group,
// which owns the sg nodes; then the maintenance run.
constexpr const char* kReportRuns = R"(/probe
echo "KESTREL-PROBE-EXIT $?"
$b chown 0:6 /dev/sg*
$b chmod 660 /dev/sg*
/probe 1000 6
echo "KESTREL-PROBE-EXIT $?")";
constexpr const char* kMaintenanceRun = R"(/probe maintain
echo "KESTREL-PROBE-EXIT $?")";

// The nth (from 0) text between begin and end.
std::string Between(const std::string& text, const std::string& begin, const std::string& end, int nth = 0) {
    size_t from = text.find(begin);
    for (; nth > 0 && from != std::string::npos; --nth) from = text.find(begin, from + 1);
    const size_t to = text.find(end, from == std::string::npos ? 0 : from);
    if (from == std::string::npos || to == std::string::npos) return {};
    return text.substr(from + begin.size(), to - from - begin.size());
}

std::string Normalised(std::string text) {
    std::erase(text, '\r');
    return text;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(part) != std::string::npos) out.push_back(line);
    return out;
}

std::string Sha256(const fs::path& path) {
    const std::string bytes = ReadFile(path);
    return QCryptographicHash::hash(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256).toHex().toStdString();
}

// Opcodes 0xC0-0xFF refused before they reach the drive, as QEMU's USB
// storage devices do: CHECK CONDITION, ILLEGAL REQUEST, invalid opcode.
class NoVendorOpcodes final : public DeviceIo {
public:
    explicit NoVendorOpcodes(DeviceIo& inner) : inner_(inner) {}
    DeviceHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override {
        if (code == ioctl::kScsiPassThroughDirect) {
            const auto request = passthrough::DecodeScsi(buffer, inLength);
            if (request && request->cdb[0] >= 0xC0) {
                const uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
                passthrough::CompleteScsi(buffer, 0x02, 0, sense);
                returned = passthrough::scsi::kBlockSize;
                return true;
            }
        }
        return inner_.Control(handle, code, buffer, inLength, returned);
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }
    uint32_t LogicalDrives() override { return inner_.LogicalDrives(); }
    unsigned DriveType(const std::string& root) override { return inner_.DriveType(root); }

private:
    DeviceIo& inner_;
};

// A firmware image that differs from every simulated controller's flash in
// its code, and keeps the layout an upgrade checks.
std::vector<uint8_t> UpgradeImage() {
    std::vector<uint8_t> image = sim::MakeDefaultFlashImage();
    for (size_t i = 0x20; i < 0x78000; i += 3) image[i] ^= 0xA5;
    return image;
}

class KernelLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        qemu_ = QStandardPaths::findExecutable("qemu-system-x86_64");
        if (qemu_.isEmpty()) GTEST_SKIP() << "qemu-system-x86_64 is not installed (scripts/setup installs qemu-system-x86)";
        if (!fs::exists("/usr/lib/x86_64-linux-gnu/qemu/block-iscsi.so"))
            GTEST_SKIP() << "QEMU's iSCSI driver is not installed (scripts/setup installs qemu-block-extra)";
        if (!fs::exists("/bin/busybox") || !StaticElf("/bin/busybox"))
            GTEST_SKIP() << "no statically linked /bin/busybox (scripts/setup installs busybox-static)";
        kernel_ = GuestKernelDir();
        if (!fs::exists(kernel_ / "vmlinuz") || !fs::exists(kernel_ / "modules/order"))
            GTEST_SKIP() << "no guest kernel in " << kernel_ << " (scripts/guest-kernel fetches it)";
        for (const char* module : {"usb-storage", "uas", "xhci-pci", "ahci"})
            if (!fs::exists(kernel_ / "modules" / (std::string(module) + ".ko")))
                GTEST_SKIP() << "the guest kernel in " << kernel_ << " has no " << module
                             << " module (run scripts/guest-kernel again)";
        ASSERT_TRUE(StaticElf(KESTREL_GUEST_PROBE)) << KESTREL_GUEST_PROBE << " is not a static executable";
        ASSERT_TRUE(work_.isValid());
    }
    fs::path Work() const { return fs::path(work_.path().toStdString()); }
    static std::string LogName() {
        return std::string("kernel-loop-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    }
    // A summary line: on standard output (the CI log) and in the run's log.
    static void Say(const std::string& text) {
        std::cout << "[kernel loop] " << text << std::endl;
        std::ofstream(LogName(), std::ios::app) << "== " << text << "\n";
    }

    // Boots the guest with these devices; it waits for drives disks, runs
    // the commands and powers off. Returns the console; the whole run goes
    // to the log file named after the test.
    std::string Boot(unsigned drives, const std::string& run, const QStringList& devices,
                     const std::vector<std::string>& targetLog = {}) {
        // The uncompressed kernel boots directly, without the slow (under
        // TCG) decompression; the compressed one works too.
        const fs::path image = fs::exists(kernel_ / "vmlinux") ? kernel_ / "vmlinux" : kernel_ / "vmlinuz";
        Cpio cpio;
        for (const char* dir : {"bin", "proc", "sys", "dev", "modules", "tmp"}) cpio.Directory(dir);
        cpio.File("bin/busybox", ReadFile("/bin/busybox"), 0100755);
        cpio.File("probe", ReadFile(KESTREL_GUEST_PROBE), 0100755);
        const std::vector<uint8_t> upgrade = UpgradeImage();
        cpio.File("image.bin", std::string(upgrade.begin(), upgrade.end()));
        std::string init = kInit;
        for (size_t at; (at = init.find("@DRIVES@")) != std::string::npos;) init.replace(at, 8, std::to_string(drives));
        init.replace(init.find("@RUN@"), 5, run);
        cpio.File("init", init, 0100755);
        const std::string order = ReadFile(kernel_ / "modules/order");
        cpio.File("modules/order", order);
        std::istringstream modules(order);
        for (std::string name; modules >> name;)
            cpio.File("modules/" + name + ".ko", ReadFile(kernel_ / "modules" / (name + ".ko")));
        const fs::path initramfs = Work() / "initramfs.cpio";
        std::ofstream(initramfs, std::ios::binary) << cpio.Finish();

        // One CPU and no timer check: a busy host slows TCG down so much
        // that the kernel's IO-APIC timer check can fail and panic the boot.
        QStringList args{"-accel", "tcg", "-m", "256", "-smp", "1", "-display", "none", "-serial", "stdio",
                         "-monitor", "none", "-no-reboot", "-nic", "none",
                         "-kernel", QString::fromStdString(image.string()),
                         "-initrd", QString::fromStdString(initramfs.string()),
                         "-append", "console=ttyS0 panic=-1 loglevel=3 no_timer_check mitigations=off scsi_mod.scan=sync"};
        args << devices;
        QProcess guest;
        guest.setProcessChannelMode(QProcess::MergedChannels);
        const auto started = std::chrono::steady_clock::now();
        guest.start(qemu_, args);
        guest.closeWriteChannel();
        finished_ = guest.waitForFinished(110000);
        if (!finished_) guest.kill(), guest.waitForFinished();
        bootSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::string console = Normalised(guest.readAll().toStdString());
        std::ofstream log(LogName());
        log << "== qemu " << args.join(' ').toStdString() << "\n== console (" << bootSeconds_ << " s)\n" << console;
        for (const std::string& line : targetLog) log << line << "\n";
        return console;
    }

    // Physical drive numbers the guest gave the disks, by the unit serial
    // each reports.
    static std::map<std::string, int> GuestNumbers(const std::string& console) {
        std::map<std::string, int> numbers;
        for (const std::string& line : LinesWith(console, "drive ")) {
            unsigned number = 0;
            char disk[16], generic[16], address[32], serial[64];
            if (std::sscanf(line.c_str(), "drive %u %15s %15s scsi %31s serial %63s", &number, disk, generic, address,
                            serial) == 5)
                numbers[serial] = static_cast<int>(number);
        }
        return numbers;
    }

    // The simulated enclosures over one bus: the guest's reports (as root
    // and as a user in the disk group) equal the host's, with the host
    // refusing what the bus refuses; then every enclosure found is upgraded.
    void RunEnclosures(const std::string& bus, bool vendorOpcodes, const std::function<QStringList(uint16_t)>& devices,
                       unsigned expectedUpgrades, const std::string& usbDrivers) {
        const sim::Scenario scenario = testing::ScenarioFrom(ProbeScenario());
        sim::SimulatedPc served(scenario);
        SimulatedLuns luns(served, kProbeDrives);
        IscsiTarget target(luns);
        std::string error;
        ASSERT_TRUE(target.Start(error)) << error;
        const std::string console =
            Boot(kProbeDrives, std::string(kReportRuns) + "\n" + kMaintenanceRun, devices(target.Port()));
        target.Stop();
        std::vector<std::string> targetLog = target.Events();
        for (const std::string& line : luns.Log()) targetLog.push_back(line);
        {
            std::ofstream log(LogName(), std::ios::app);
            log << "== target\n";
            for (const std::string& line : targetLog) log << line << "\n";
        }
        ASSERT_TRUE(finished_) << "the guest did not power off:\n" << console;
        ASSERT_EQ(Count(console, "KESTREL-PROBE-EXIT 0"), 3u) << console;
        EXPECT_NE(console.find("guest usb drivers: " + usbDrivers + "\n"), std::string::npos) << console;
        const std::map<std::string, int> numbers = GuestNumbers(console);
        sim::Scenario renumbered = scenario;
        for (sim::DriveConfig& drive : renumbered.drives) {
            const auto it = numbers.find("KSIMLUN" + std::to_string(drive.number));
            ASSERT_NE(it, numbers.end()) << "LUN " << drive.number << " not seen:\n" << console;
            drive.number = it->second;
        }
        EXPECT_EQ(console.find("problem:"), std::string::npos) << console;

        // As root, then as the service user; the simulated PC goes on between.
        sim::SimulatedPc direct(renumbered);
        NoVendorOpcodes refusing(direct);
        DeviceIo& host = vendorOpcodes ? static_cast<DeviceIo&>(direct) : refusing;
        for (int run = 0; run < 2; ++run) {
            const std::string guestReport = Between(console, "KESTREL-REPORT-BEGIN\n", "KESTREL-REPORT-END", run);
            EXPECT_EQ(guestReport, RunProbe(host)) << bus << (run ? ", as a user in the disk group\n" : ", as root\n")
                                                   << console;
        }

        // The upgrade through the kernel: each enclosure found, on its own
        // path, verified, and its flash now the image.
        const std::string maintenance = Between(console, "KESTREL-REPORT-BEGIN\n", "KESTREL-REPORT-END", 2);
        EXPECT_EQ(LinesWith(maintenance, "upgrade D").size(), expectedUpgrades) << maintenance;
        EXPECT_EQ(Count(maintenance, " verified\n"), expectedUpgrades) << maintenance;
        EXPECT_EQ(Count(maintenance, "notice "), 0u) << maintenance;
        const std::vector<uint8_t> image = UpgradeImage();
        std::string found;
        for (const std::string& line : LinesWith(maintenance, "flags 0x")) found += "\n  " + line;
        for (const std::string& line : LinesWith(maintenance, "upgrade D")) {
            unsigned slot = 0, drive = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "upgrade D%u drive %u", &slot, &drive), 2) << line;
            const auto config = std::find_if(renumbered.drives.begin(), renumbered.drives.end(),
                                             [&](const sim::DriveConfig& d) { return d.number == static_cast<int>(drive); });
            ASSERT_NE(config, renumbered.drives.end()) << line;
            EXPECT_EQ(served.FlashOf(config->enclosure), image) << "the flash of " << config->enclosure << " after " << line;
        }
        // The program's own requests reached the target unchanged.
        auto reached = [&](const std::string& cdb) {
            for (const std::string& line : luns.Log())
                if (line.find("cdb " + cdb) != std::string::npos) return true;
            return false;
        };
        EXPECT_TRUE(reached("85 06 20 00 03 00 00 00 00 00 00 00 00 00 88 00")) << "ATA PASS-THROUGH, vendor 0x88, CK_COND";
        EXPECT_TRUE(reached("85 08 0e 00 00 00 01 00 00 00 00 00 00 e0 ec 00")) << "ATA PASS-THROUGH, IDENTIFY, no CK_COND";
        EXPECT_TRUE(reached("28 00 00 00 00 3a 00 00 01 00")) << "READ(10) of block 58";
        EXPECT_TRUE(reached("2a 00 00 00 00 14 00 00 01 00")) << "WRITE(10) of block 20";
        EXPECT_EQ(reached("fe 8b 00 00 00 00 00 00 00 00"), vendorOpcodes) << "bridge Identify, CDB shift 1";
        std::ostringstream summary;
        summary << "bus " << bus << " (" << bootSeconds_ << " s): enclosures found" << found;
        for (const std::string& line : LinesWith(maintenance, "upgrade D")) summary << "\n  " << line;
        Say(summary.str());
    }

    QString qemu_;
    fs::path kernel_;
    QTemporaryDir work_;
    bool finished_ = false;
    double bootSeconds_ = 0;
};

QStringList IscsiDrive(unsigned n, uint16_t port) {
    return {"-drive", QString("if=none,id=d%1,format=raw,cache=none,file=iscsi://127.0.0.1:%2/%3/%1")
                          .arg(n)
                          .arg(port)
                          .arg(IscsiTarget::kName)};
}

TEST_F(KernelLoopTest, VirtioScsiCarriesEveryAccessPath) {
    RunEnclosures("virtio-scsi (scsi-block)", true, [](uint16_t port) {
        QStringList args{"-device", "virtio-scsi-pci,id=s0"};
        for (unsigned n = 0; n < kProbeDrives; ++n)
            args << IscsiDrive(n, port) << "-device" << QString("scsi-block,drive=d%1,bus=s0.0,scsi-id=%1,lun=0").arg(n);
        return args;
    }, 6, "uas 0 usb-storage 0");
}

// QEMU's USB storage devices refuse every CDB with opcode 0xC0-0xFF before
// it reaches the drive, so the bridge enclosures cannot cross them; they
// are carried on virtio-scsi above. Over USB the mailbox and ATA
// enclosures are found and upgraded.
QStringList UsbDevices(const char* model, uint16_t port) {
    QStringList args{"-device", "qemu-xhci,id=x,p2=8,p3=8"};
    for (unsigned n = 0; n < kProbeDrives; ++n)
        args << IscsiDrive(n, port) << "-device" << QString("%1,id=u%2,bus=x.0").arg(model).arg(n) << "-device"
             << QString("scsi-block,bus=u%1.0,drive=d%1").arg(n);
    return args;
}

TEST_F(KernelLoopTest, UsbStorageCarriesTheMailboxAndAtaPaths) {
    Say("bridge enclosures cannot cross QEMU's USB storage (it refuses opcodes 0xC0-0xFF); they are tested on "
        "virtio-scsi");
    RunEnclosures("USB storage (qemu-xhci, usb-bot, scsi-block)", false,
                  [](uint16_t port) { return UsbDevices("usb-bot", port); }, 3, "uas 0 usb-storage 7");
}

TEST_F(KernelLoopTest, UasCarriesTheMailboxAndAtaPaths) {
    Say("bridge enclosures cannot cross QEMU's UAS (it refuses opcodes 0xC0-0xFF); they are tested on virtio-scsi");
    RunEnclosures("UAS (qemu-xhci, usb-uas, scsi-block)", false,
                  [](uint16_t port) { return UsbDevices("usb-uas", port); }, 3, "uas 7 usb-storage 0");
}

// Plain disks on every bus, one of each pair carrying an enclosure's
// signature (and, on AHCI and USB, an enclosure's whole identify block and
// more): detection, polls, and an upgrade and Initialize attempted on every
// drive leave every byte of every image as it was.
TEST_F(KernelLoopTest, PlainDisksOnEveryBusAreNeverWritten) {
    struct Disk {
        const char* serial;
        const char* bus;
        int lookAlike;  // 0 plain, 1 signature only, 2 identify block, 3 identify block and a record start
    };
    const std::vector<Disk> disks = {{"KPLAIN-V0", "virtio-scsi", 0}, {"KPLAIN-V1", "virtio-scsi", 1},
                                     {"KPLAIN-A0", "ahci", 0},        {"KPLAIN-A1", "ahci", 2},
                                     {"KPLAIN-U0", "usb-storage", 0}, {"KPLAIN-U1", "usb-storage", 3}};
    std::mt19937 random(28);
    QStringList args{"-device", "virtio-scsi-pci,id=s0", "-device", "ich9-ahci,id=ahci", "-device", "qemu-xhci,id=x"};
    std::vector<std::string> before;
    for (size_t i = 0; i < disks.size(); ++i) {
        std::string bytes(4 << 20, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (disks[i].lookAlike >= 2) {
            const Block512 identify = sim::MakeIdentifyBlock({.model = "KESTREL RAID", .firmwareRevision = "100126.1"}, true);
            std::copy(identify.begin(), identify.end(), bytes.begin() + 58 * 512);
        }
        if (disks[i].lookAlike >= 1) bytes[58 * 512 + 258] = '3', bytes[58 * 512 + 259] = 'X';
        if (disks[i].lookAlike == 3) bytes[33 * 512 + 1] = static_cast<char>(0xA0);
        const fs::path file = Work() / (std::string(disks[i].serial) + ".img");
        std::ofstream(file, std::ios::binary) << bytes;
        before.push_back(Sha256(file));
        const QString drive = QString("if=none,id=p%1,format=raw,file=%2").arg(i).arg(QString::fromStdString(file.string()));
        args << "-drive" << drive << "-device";
        const std::string bus = disks[i].bus;
        if (bus == "virtio-scsi") args << QString("scsi-hd,drive=p%1,bus=s0.0,scsi-id=%1,serial=%2").arg(i).arg(disks[i].serial);
        else if (bus == "ahci")
            args << QString("ide-hd,drive=p%1,bus=ahci.%2,serial=%3,model=KESTREL PLAIN %4")
                        .arg(i).arg(i - 2).arg(disks[i].serial).arg(i - 2);
        else args << QString("usb-storage,drive=p%1,bus=x.0,serial=%2").arg(i).arg(disks[i].serial);
    }
    const std::string console = Boot(static_cast<unsigned>(disks.size()), kMaintenanceRun, args);
    ASSERT_TRUE(finished_) << "the guest did not power off:\n" << console;
    ASSERT_EQ(Count(console, "KESTREL-PROBE-EXIT 0"), 1u) << console;
    EXPECT_NE(console.find("guest usb drivers: uas 0 usb-storage 2\n"), std::string::npos) << console;
    const std::string report = Between(console, "KESTREL-REPORT-BEGIN\n", "KESTREL-REPORT-END");
    const std::map<std::string, int> numbers = GuestNumbers(console);

    std::ostringstream summary;
    summary << "plain disks on virtio-scsi (scsi-hd), AHCI (ide-hd) and USB storage (" << bootSeconds_ << " s):";
    for (size_t i = 0; i < disks.size(); ++i) {
        const std::string after = Sha256(Work() / (std::string(disks[i].serial) + ".img"));
        EXPECT_EQ(after, before[i]) << disks[i].serial << " on " << disks[i].bus << " changed\n" << report;
        summary << "\n  " << disks[i].bus << " " << disks[i].serial << (disks[i].lookAlike ? " (look-alike)" : "")
                << " sha256 before " << before[i] << " after " << after;
    }
    EXPECT_NE(report.find("enclosures 0\n"), std::string::npos) << report;
    // Each look-alike is said to be no supported enclosure, once.
    EXPECT_EQ(Count(report, "is not a supported enclosure ("), 3u) << report;
    for (const Disk& disk : disks) {
        const auto it = numbers.find(disk.serial);
        ASSERT_NE(it, numbers.end()) << disk.serial << " not seen:\n" << console;
        const std::string drive = "Physical drive " + std::to_string(it->second) + " is not a supported enclosure (";
        EXPECT_EQ(Count(report, "notice " + drive), disk.lookAlike ? 1u : 0u) << disk.serial << "\n" << report;
        // The AHCI disks answer IDENTIFY DEVICE through ATA pass-through
        // with their own model and serial (libata's path); the others not.
        const std::string identify = "identify drive " + std::to_string(it->second);
        if (std::string(disk.bus) == "ahci") {
            const std::string own = identify + " ok model \"KESTREL PLAIN " + disk.serial[8] + "\" serial \"" + disk.serial + "\"";
            EXPECT_NE(report.find(own + "\n"), std::string::npos) << own << "\n" << report;
        } else {
            EXPECT_NE(report.find(identify + " failed\n"), std::string::npos) << report;
        }
        // Upgrade and Initialize tried as a mailbox and as an ATA enclosure:
        // refused before anything reached the disk.
        const std::string as = "unlisted drive " + std::to_string(it->second) + " as ";
        EXPECT_EQ(Count(report, "upgrade " + as), 2u) << report;
        EXPECT_EQ(Count(report, "initialize " + as), 2u) << report;
    }
    EXPECT_EQ(Count(report, " verified\n") + Count(report, " completed\n"), 0u) << report;
    EXPECT_EQ(Count(report, "nothing is written to it."), 4u * disks.size()) << report;
    for (const std::string& line : LinesWith(report, "notice ")) summary << "\n  " << line;
    for (const std::string& line : LinesWith(report, "identify drive")) summary << "\n  " << line;
    Say(summary.str());
}

}  // namespace
}  // namespace kestrel::kernelloop
