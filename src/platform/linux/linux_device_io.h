#pragma once
// DeviceIo on Linux: physical drives and drive letters as DiskMap lays them
// out, pass-through requests through SG_IO. The SCSI pass-through block
// becomes an sg_io_hdr with the same CDB, direction, length, time-out and
// sense area; the IDE pass-through buffer becomes an ATA PASS-THROUGH(16)
// command. The bus rescan needs nothing here (the kernel finds devices by
// itself) and succeeds. The volume extents answer comes from sysfs.
//
// Nodes: a physical drive is opened through its SCSI generic node
// (/dev/sgN) read-write: the kernel then lets vendor CDBs and ATA
// PASS-THROUGH through for anyone who may open the node (the disk group),
// and closing it raises no udev "change" event. A disk without an sg node
// is opened through its block node read-only, which carries those commands
// for root (CAP_SYS_RAWIO) only. Volumes are opened read-only.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/device_io.h"
#include "platform/linux/disk_map.h"

namespace kestrel::linuxio {

class LinuxDeviceIo final : public DeviceIo {
public:
    // Receives, once per node, why a node cannot be used and what is needed.
    // Called from whichever thread made the request.
    using ProblemReport = std::function<void(const std::string&)>;

    // root: where sys/, proc/ and dev/ are found; "/" on a real system.
    explicit LinuxDeviceIo(std::string root = "/");
    ~LinuxDeviceIo() override;

    void SetProblemReport(ProblemReport report);

    DeviceHandle Open(const std::string& path) override;
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override;
    void Close(DeviceHandle handle) override;
    uint32_t LogicalDrives() override;
    unsigned DriveType(const std::string& rootPath) override;

private:
    struct Opened {
        bool volume = false;
        MountedVolume extent;
        std::string node;  // path under /dev, for reports
        bool generic = false;
    };
    DiskMap Scan();
    bool Scsi(int fd, const Opened& opened, std::span<uint8_t> buffer, size_t inLength);
    bool Ide(int fd, const Opened& opened, std::span<uint8_t> buffer, size_t inLength, size_t& returned);
    void Refused(const Opened& opened);
    void Report(const std::string& node, const std::string& text);

    std::string root_;
    std::mutex mutex_;
    std::map<int, Opened> open_;
    DriveNumbers numbers_;
    std::set<std::string> reported_;
    ProblemReport report_;
};

}  // namespace kestrel::linuxio
