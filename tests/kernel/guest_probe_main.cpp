// The probe that runs inside the guest: the program's own Linux device
// layer on the kernel's disks. It prints which disk got which physical
// drive number, any problem the device layer reports, and the probe report
// between markers the host looks for. With a user and a group id it first
// gives up root for them (a service user in the disk group).
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kernel/probe.h"
#include "platform/linux/disk_map.h"
#include "platform/linux/linux_device_io.h"

int main(int argc, char** argv) {
    using namespace kestrel;
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
        std::printf("drive %u %s %s scsi %s\n", d.number, d.name.c_str(), d.genericNode.c_str(),
                    device.filename().c_str());
    }
    linuxio::LinuxDeviceIo io("/");
    io.SetProblemReport([](const std::string& text) { std::printf("problem: %s\n", text.c_str()); });
    const std::string report = kernelloop::RunProbe(io);
    std::printf("KESTREL-REPORT-BEGIN\n%sKESTREL-REPORT-END\n", report.c_str());
    std::fflush(stdout);
    return 0;
}
