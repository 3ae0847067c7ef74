#pragma once
// DeviceIo on Linux: physical drives and drive letters as DiskMap lays them
// out, pass-through requests through SG_IO. The SCSI pass-through block
// becomes an sg_io_hdr with the same CDB, direction, length, time-out and
// sense area; the IDE pass-through buffer becomes an ATA PASS-THROUGH(16)
// command. The bus rescan needs nothing here (the kernel finds devices by
// itself) and succeeds. The volume extents answer comes from sysfs.
#include <map>
#include <mutex>
#include <string>

#include "platform/device_io.h"
#include "platform/linux/disk_map.h"

namespace kestrel::linuxio {

class LinuxDeviceIo final : public DeviceIo {
public:
    // root: where sys/, proc/ and dev/ are found; "/" on a real system.
    explicit LinuxDeviceIo(std::string root = "/");
    ~LinuxDeviceIo() override;

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
    };
    bool Scsi(int fd, std::span<uint8_t> buffer, size_t inLength);
    bool Ide(int fd, std::span<uint8_t> buffer, size_t inLength, size_t& returned);

    std::string root_;
    std::mutex mutex_;
    std::map<int, Opened> open_;
};

}  // namespace kestrel::linuxio
