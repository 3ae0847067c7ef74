// The real Linux SCSI stack in the loop: Debian's own kernel, booted by
// QEMU (TCG), attaches the simulated PC's drives, served by an iSCSI target
// on 127.0.0.1, as passthrough SCSI disks; the program's device layer runs
// in the guest against them (SG_IO on /dev/sgN) and its report must equal
// the report of the same code run on the host against the simulated PC
// directly.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "kernel/iscsi_target.h"
#include "kernel/probe.h"
#include "kernel/simulated_luns.h"
#include "sim/simulated_pc.h"
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

constexpr const char* kInit = R"(#!/bin/busybox sh
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t sysfs sysfs /sys
$b mount -t devtmpfs devtmpfs /dev
for m in $($b cat /modules/order); do $b insmod /modules/$m.ko || echo "insmod $m failed"; done
# The disks attach on their own; wait until every one has its sd and sg node.
n=0
while [ $n -lt 300 ]; do
  disks=$($b ls /sys/block | $b grep -c '^sd')
  generic=$($b ls /sys/class/scsi_generic 2>/dev/null | $b wc -l)
  [ "$disks" -ge @DRIVES@ ] && [ "$generic" -ge @DRIVES@ ] && [ -e /dev/sg$((@DRIVES@ - 1)) ] && break
  $b sleep 0.1
  n=$((n + 1))
done
echo "guest: $disks disks, $generic sg nodes"
/probe
echo "KESTREL-PROBE-EXIT $?"
# Again as a service user in the disk group, which owns the sg nodes.
$b chown 0:6 /dev/sg*
$b chmod 660 /dev/sg*
/probe 1000 6
echo "KESTREL-PROBE-EXIT $?"
$b poweroff -f
)";

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

TEST(KernelLoopTest, TheGuestKernelCarriesTheDeviceLayerToTheSimulatedEnclosures) {
    const QString qemu = QStandardPaths::findExecutable("qemu-system-x86_64");
    if (qemu.isEmpty()) GTEST_SKIP() << "qemu-system-x86_64 is not installed (scripts/setup installs qemu-system-x86)";
    if (!fs::exists("/usr/lib/x86_64-linux-gnu/qemu/block-iscsi.so"))
        GTEST_SKIP() << "QEMU's iSCSI driver is not installed (scripts/setup installs qemu-block-extra)";
    if (!fs::exists("/bin/busybox") || !StaticElf("/bin/busybox"))
        GTEST_SKIP() << "no statically linked /bin/busybox (scripts/setup installs busybox-static)";
    const fs::path kernel = GuestKernelDir();
    if (!fs::exists(kernel / "vmlinuz") || !fs::exists(kernel / "modules/order"))
        GTEST_SKIP() << "no guest kernel in " << kernel << " (scripts/guest-kernel fetches it)";
    // The uncompressed kernel boots directly, without the slow (under TCG)
    // decompression; the compressed one works too.
    const fs::path image = fs::exists(kernel / "vmlinux") ? kernel / "vmlinux" : kernel / "vmlinuz";
    const fs::path probe = KESTREL_GUEST_PROBE;
    ASSERT_TRUE(StaticElf(probe)) << probe << " is not a static executable";

    // The initramfs: busybox, the probe, the modules and the init script.
    Cpio cpio;
    for (const char* dir : {"bin", "proc", "sys", "dev", "modules", "tmp"}) cpio.Directory(dir);
    cpio.File("bin/busybox", ReadFile("/bin/busybox"), 0100755);
    cpio.File("probe", ReadFile(probe), 0100755);
    std::string init = kInit;
    const std::string drives = std::to_string(kProbeDrives);
    for (size_t at; (at = init.find("@DRIVES@")) != std::string::npos;) init.replace(at, 8, drives);
    cpio.File("init", init, 0100755);
    const std::string order = ReadFile(kernel / "modules/order");
    cpio.File("modules/order", order);
    std::istringstream modules(order);
    for (std::string name; modules >> name;) cpio.File("modules/" + name + ".ko", ReadFile(kernel / "modules" / (name + ".ko")));
    QTemporaryDir work;
    const fs::path initramfs = fs::path(work.path().toStdString()) / "initramfs.cpio";
    std::ofstream(initramfs, std::ios::binary) << cpio.Finish();

    // The target, serving the scenario's drives as LUNs 0..n-1.
    const sim::Scenario scenario = testing::ScenarioFrom(ProbeScenario());
    sim::SimulatedPc served(scenario);
    SimulatedLuns luns(served, kProbeDrives);
    IscsiTarget target(luns);
    std::string error;
    ASSERT_TRUE(target.Start(error)) << error;

    // One CPU and no timer check: a busy host slows TCG down so much that
    // the kernel's IO-APIC timer check can fail and panic the boot.
    QStringList args{"-accel", "tcg", "-m", "256", "-smp", "1", "-display", "none", "-serial", "stdio",
                     "-monitor", "none", "-no-reboot", "-nic", "none",
                     "-kernel", QString::fromStdString(image.string()),
                     "-initrd", QString::fromStdString(initramfs.string()),
                     "-append", "console=ttyS0 panic=-1 loglevel=3 no_timer_check mitigations=off scsi_mod.scan=sync",
                     "-device", "virtio-scsi-pci,id=s0"};
    for (unsigned n = 0; n < kProbeDrives; ++n) {
        args << "-drive"
             << QString("if=none,id=d%1,format=raw,cache=none,file=iscsi://127.0.0.1:%2/%3/%1")
                    .arg(n)
                    .arg(target.Port())
                    .arg(IscsiTarget::kName)
             << "-device" << QString("scsi-block,drive=d%1,bus=s0.0,scsi-id=%1,lun=0").arg(n);
    }
    QProcess guest;
    guest.setProcessChannelMode(QProcess::MergedChannels);
    guest.start(qemu, args);
    guest.closeWriteChannel();
    const bool finished = guest.waitForFinished(100000);
    if (!finished) guest.kill(), guest.waitForFinished();
    target.Stop();
    const std::string console = Normalised(guest.readAll().toStdString());

    // The whole run, for whoever wants to see it.
    std::ofstream log("kernel-loop.log");
    log << "== console\n" << console << "== target\n";
    for (const std::string& line : target.Events()) log << line << "\n";
    for (const std::string& line : luns.Log()) log << line << "\n";

    ASSERT_TRUE(finished) << "the guest did not power off:\n" << console;
    const size_t firstExit = console.find("KESTREL-PROBE-EXIT 0");
    ASSERT_NE(firstExit, std::string::npos) << console;
    ASSERT_NE(console.find("KESTREL-PROBE-EXIT 0", firstExit + 1), std::string::npos) << console;
    // The kernel names the disks as their probes finish, not in SCSI target
    // order, so physical drive n is whichever disk got the lowest name;
    // the host runs the same probe with the drives renumbered alike.
    std::map<int, int> guestNumberOfTarget;
    std::istringstream lines(console);
    for (std::string line; std::getline(lines, line);) {
        unsigned number = 0, target = 0;
        char disk[16], generic[16];
        if (std::sscanf(line.c_str(), "drive %u %15s %15s scsi 0:0:%u:0", &number, disk, generic, &target) == 4)
            guestNumberOfTarget[static_cast<int>(target)] = static_cast<int>(number);
    }
    ASSERT_EQ(guestNumberOfTarget.size(), kProbeDrives) << console;
    sim::Scenario renumbered = scenario;
    for (sim::DriveConfig& drive : renumbered.drives) drive.number = guestNumberOfTarget.at(drive.number);
    EXPECT_EQ(console.find("problem:"), std::string::npos) << console;

    // As root, then as the service user; the simulated PC goes on between.
    sim::SimulatedPc direct(renumbered);
    for (int run = 0; run < 2; ++run) {
        const std::string guestReport = Between(console, "KESTREL-REPORT-BEGIN\n", "KESTREL-REPORT-END", run);
        const std::string hostReport = RunProbe(direct);
        log << "== host report " << run + 1 << "\n" << hostReport;
        EXPECT_EQ(guestReport, hostReport) << (run ? "as a user in the disk group\n" : "as root\n") << console;
    }

    // The program's own requests reached the target unchanged.
    auto reached = [&](const std::string& cdb) {
        for (const std::string& line : luns.Log())
            if (line.find("cdb " + cdb) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(reached("85 06 20 00 03 00 00 00 00 00 00 00 00 00 88 00")) << "ATA PASS-THROUGH, vendor 0x88";
    EXPECT_TRUE(reached("85 08 2e 00 00 00 01 00 00 00 00 00 00 e0 ec 00")) << "ATA PASS-THROUGH, IDENTIFY";
    EXPECT_TRUE(reached("fe 8b 00 00 00 00 00 00 00 00")) << "bridge Identify, CDB shift 1";
    EXPECT_TRUE(reached("28 00 00 00 00 3a 00 00 01 00")) << "READ(10) of block 58";
}

}  // namespace
}  // namespace kestrel::kernelloop
