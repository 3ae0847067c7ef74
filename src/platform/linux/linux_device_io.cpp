#include "platform/linux/linux_device_io.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "wire/drive_table.h"
#include "wire/byte_order.h"
#include "platform/linux/ata_translation.h"
#include "platform/pass_through.h"

namespace kestrel::linuxio {

namespace {

constexpr uint8_t kAtaErr = 0x01;
constexpr uint8_t kAtaDeviceFault = 0x20;
constexpr unsigned kIdeTimeoutMs = 10000;

int OpenDeviceNode(const std::string& root, const std::string& name) {
    const std::string path = (root.empty() || root.back() != '/' ? root + "/" : root) + "dev/" + name;
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

bool TransportOk(const sg_io_hdr_t& h) {
    // A host adapter or driver error means the request never completed;
    // a SCSI status (check condition) is the device's answer and left to
    // the caller, as the pass-through interface does.
    return h.host_status == 0 && (h.driver_status & 0x0F) == 0;
}

}  // namespace

LinuxDeviceIo::LinuxDeviceIo(std::string root) : root_(std::move(root)) {}

LinuxDeviceIo::~LinuxDeviceIo() {
    for (const auto& [fd, opened] : open_) ::close(fd);
}

DeviceHandle LinuxDeviceIo::Open(const std::string& path) {
    unsigned number = 0;
    char letter = 0;
    const DiskMap map = DiskMap::Scan(root_);
    Opened opened;
    std::string name;
    if (ParsePhysicalDrivePath(path, number)) {
        if (number >= DriveTable::kPhysicalDrives || number >= map.Disks().size()) return kInvalidHandle;
        name = map.Disks()[number].name;
    } else if (ParseVolumePath(path, letter)) {
        const MountedVolume* v = map.VolumeOf(letter);
        if (!v) return kInvalidHandle;
        name = v->device;
        opened = {true, *v};
    } else {
        return kInvalidHandle;
    }
    const int fd = OpenDeviceNode(root_, name);
    if (fd < 0) return kInvalidHandle;
    std::lock_guard lock(mutex_);
    open_[fd] = opened;
    return fd;
}

void LinuxDeviceIo::Close(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(static_cast<int>(handle));
    if (it == open_.end()) return;
    ::close(it->first);
    open_.erase(it);
}

bool LinuxDeviceIo::Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                            size_t& returned) {
    returned = 0;
    Opened opened;
    {
        std::lock_guard lock(mutex_);
        const auto it = open_.find(static_cast<int>(handle));
        if (it == open_.end()) return false;
        opened = it->second;
    }
    const int fd = static_cast<int>(handle);
    switch (code) {
        case ioctl::kScsiRescanBus: return true;
        case ioctl::kVolumeDiskExtents:
            if (!opened.volume || inLength != 0) return false;
            if (!passthrough::EncodeExtent({opened.extent.disk, opened.extent.startBytes, opened.extent.lengthBytes}, buffer))
                return false;
            returned = passthrough::extents::kSize;
            return true;
        case ioctl::kScsiPassThroughDirect:
            if (!Scsi(fd, buffer, inLength)) return false;
            returned = std::min(buffer.size(), passthrough::scsi::kBlockSize);
            return true;
        case ioctl::kIdePassThrough: return Ide(fd, buffer, inLength, returned);
        default: return false;
    }
}

bool LinuxDeviceIo::Scsi(int fd, std::span<uint8_t> buffer, size_t inLength) {
    const auto request = passthrough::DecodeScsi(buffer, inLength);
    if (!request) return false;
    std::array<uint8_t, 16> cdb = request->cdb;
    std::array<uint8_t, passthrough::scsi::kSenseSize> sense{};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = request->cdbLength;
    h.cmdp = cdb.data();
    h.dxfer_direction = request->transferLength == 0 ? SG_DXFER_NONE
                        : request->DataIn()          ? SG_DXFER_FROM_DEV
                                                     : SG_DXFER_TO_DEV;
    h.dxferp = request->data;
    h.dxfer_len = request->transferLength;
    h.sbp = sense.data();
    h.mx_sb_len = static_cast<unsigned char>(std::min<size_t>(sense.size(), request->senseInfoLength));
    h.timeout = request->timeoutSeconds * 1000;
    if (::ioctl(fd, SG_IO, &h) != 0 || !TransportOk(h)) return false;
    const int resid = std::clamp(h.resid, 0, static_cast<int>(request->transferLength));
    passthrough::CompleteScsi(buffer, h.status, request->transferLength - static_cast<uint32_t>(resid),
                              std::span<const uint8_t>(sense.data(), h.sb_len_wr));
    return true;
}

bool LinuxDeviceIo::Ide(int fd, std::span<uint8_t> buffer, size_t inLength, size_t& returned) {
    const auto request = passthrough::DecodeIde(buffer, inLength);
    if (!request) return false;
    std::array<uint8_t, 7> registers{};
    std::copy_n(request->registers.begin(), registers.size(), registers.begin());
    std::array<uint8_t, 16> cdb = AtaPassThrough16(registers, request->dataSize);
    std::array<uint8_t, 32> sense{};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.cmdp = cdb.data();
    h.dxfer_direction = request->dataSize == 0 ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
    h.dxferp = request->data;
    h.dxfer_len = request->dataSize;
    h.sbp = sense.data();
    h.mx_sb_len = static_cast<unsigned char>(sense.size());
    h.timeout = kIdeTimeoutMs;
    if (::ioctl(fd, SG_IO, &h) != 0 || !TransportOk(h)) return false;
    const bool haveRegisters = ReturnedRegisters(std::span<const uint8_t>(sense.data(), h.sb_len_wr), registers);
    // The taskfile goes back to the caller whatever the command's outcome.
    std::copy(registers.begin(), registers.end(), buffer.begin());
    const bool ataOk = haveRegisters ? (registers[6] & (kAtaErr | kAtaDeviceFault)) == 0 : h.status == 0;
    const bool complete = h.resid == 0;
    if (!ataOk || !complete) return false;
    returned = passthrough::ide::kData + request->dataSize;
    return true;
}

uint32_t LinuxDeviceIo::LogicalDrives() {
    uint32_t mask = 0;
    const DiskMap map = DiskMap::Scan(root_);
    for (const MountedVolume& v : map.Volumes()) mask |= 1u << (v.letter - 'A');
    return mask;
}

unsigned LinuxDeviceIo::DriveType(const std::string& rootPath) {
    const char letter = RootPathLetter(rootPath);
    const DiskMap map = DiskMap::Scan(root_);
    const MountedVolume* v = letter ? map.VolumeOf(letter) : nullptr;
    if (!v) return drive_type::kNoRootDir;
    return v->removable ? drive_type::kRemovable : drive_type::kFixed;
}

}  // namespace kestrel::linuxio
