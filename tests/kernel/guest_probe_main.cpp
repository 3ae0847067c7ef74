// The probe that runs inside the guest: the program's own Linux device
// layer on the kernel's disks. It prints which disk got which physical
// drive number (with the unit serial the disk reports, which tells the host
// which of its drives it is), any problem the device layer reports, and
// the report between markers the host looks for. With a user and a group
// id it first gives up root for them (a service user in the disk group);
// with "maintain" it runs the maintenance report with the image /image.bin.
#include <fcntl.h>
#include <grp.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kernel/probe.h"
#include "platform/linux/disk_map.h"
#include "platform/linux/linux_device_io.h"

namespace {

// INQUIRY VPD page 0x80, as the disk itself answers it.
std::string UnitSerial(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "-";
    unsigned char cdb[6] = {0x12, 0x01, 0x80, 0, 252, 0};
    unsigned char data[252] = {};
    unsigned char sense[32] = {};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = sizeof cdb;
    h.cmdp = cdb;
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.dxferp = data;
    h.dxfer_len = sizeof data;
    h.sbp = sense;
    h.mx_sb_len = sizeof sense;
    h.timeout = 5000;
    const bool ok = ::ioctl(fd, SG_IO, &h) == 0 && h.status == 0 && data[1] == 0x80;
    ::close(fd);
    if (!ok) return "-";
    std::string serial(reinterpret_cast<const char*>(data + 4), std::min<size_t>(data[3], sizeof data - 4));
    serial.erase(0, serial.find_first_not_of(' '));
    while (!serial.empty() && (serial.back() == ' ' || serial.back() == '\0')) serial.pop_back();
    return serial.empty() ? "-" : serial;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    const bool maintain = argc == 2 && std::string(argv[1]) == "maintain";
    if (argc == 3) {
        const gid_t group = static_cast<gid_t>(std::atoi(argv[2]));
        if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 ||
            ::setuid(static_cast<uid_t>(std::atoi(argv[1]))) != 0) {
            std::perror("probe: cannot change user");
            return 2;
        }
        std::printf("probe: user %d, group %d\n", static_cast<int>(::getuid()), static_cast<int>(::getgid()));
    }
    linuxio::DriveNumbers numbers;
    const linuxio::DiskMap map = linuxio::DiskMap::Scan("/", &numbers);
    for (const linuxio::WholeDisk& d : map.Disks()) {
        std::error_code ec;
        const auto device = std::filesystem::read_symlink("/sys/block/" + d.name + "/device", ec);
        const std::string node = "/dev/" + (d.genericNode.empty() ? d.name : d.genericNode);
        std::printf("drive %u %s %s scsi %s serial %s\n", d.number, d.name.c_str(), d.genericNode.c_str(),
                    device.filename().c_str(), UnitSerial(node).c_str());
    }
    linuxio::LinuxDeviceIo io("/");
    io.SetProblemReport([](const std::string& text) { std::printf("problem: %s\n", text.c_str()); });
    const std::string report = maintain ? kernelloop::RunMaintenance(io, "/image.bin") : kernelloop::RunProbe(io);
    std::printf("KESTREL-REPORT-BEGIN\n%sKESTREL-REPORT-END\n", report.c_str());
    std::fflush(stdout);
    return 0;
}
