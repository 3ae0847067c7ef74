#include "platform/linux/linux_device_io.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "wire/drive_table.h"
#include "platform/linux/ata_translation.h"
#include "platform/linux/sg_reply.h"
#include "platform/pass_through.h"

namespace kestrel::linuxio {

namespace {

constexpr unsigned kIdeTimeoutMs = 10000;

std::string DevPath(const std::string& root, const std::string& name) {
    return (root.empty() || root.back() != '/' ? root + "/" : root) + "dev/" + name;
}

SgReply ReplyOf(const sg_io_hdr_t& h, const uint8_t* sense) {
    return {h.status, h.host_status, h.driver_status, h.resid, std::span<const uint8_t>(sense, h.sb_len_wr)};
}

}  // namespace

LinuxDeviceIo::LinuxDeviceIo(std::string root) : root_(std::move(root)) {}

LinuxDeviceIo::~LinuxDeviceIo() {
    for (const auto& [fd, opened] : open_) ::close(fd);
}

void LinuxDeviceIo::SetProblemReport(ProblemReport report) {
    std::lock_guard lock(mutex_);
    report_ = std::move(report);
}

DiskMap LinuxDeviceIo::Scan() {
    std::lock_guard lock(mutex_);
    return DiskMap::Scan(root_, &numbers_);
}

void LinuxDeviceIo::Report(const std::string& node, const std::string& text) {
    ProblemReport report;
    {
        std::lock_guard lock(mutex_);
        if (!reported_.insert(node).second) return;
        report = report_;
    }
    if (report) report(text);
}

DeviceHandle LinuxDeviceIo::Open(const std::string& path) {
    unsigned number = 0;
    char letter = 0;
    const DiskMap map = Scan();
    Opened opened;
    int flags = O_RDONLY;
    std::string identity;
    std::string disk;
    if (ParsePhysicalDrivePath(path, number)) {
        const WholeDisk* d = map.DiskNumbered(number);
        if (!d) return kInvalidHandle;
        opened.generic = !d->genericNode.empty();
        opened.node = DevPath(root_, opened.generic ? d->genericNode : d->name);
        if (opened.generic) flags = O_RDWR;
        identity = d->identity;
        disk = d->name;
    } else if (ParseVolumePath(path, letter)) {
        const MountedVolume* v = map.VolumeOf(letter);
        if (!v) return kInvalidHandle;
        opened.volume = true;
        opened.extent = *v;
        opened.node = DevPath(root_, v->device);
    } else {
        return kInvalidHandle;
    }
    const int fd = ::open(opened.node.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            Report(opened.node, "Cannot open " + opened.node + ": " + std::strerror(errno) +
                                    (::geteuid() == 0
                                         ? " (refused even to root: a container or a security policy)"
                                         : " (run as root, or as a user in the group that owns it, usually disk)"));
        return kInvalidHandle;
    }
    // The disk may have gone, and another taken its name, since the scan:
    // a request for this number must never reach that other disk.
    if (!opened.volume && DiskMap::IdentityOf(root_, disk) != identity) {
        ::close(fd);
        return kInvalidHandle;
    }
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
            if (!Scsi(fd, opened, buffer, inLength)) return false;
            returned = std::min(buffer.size(), passthrough::scsi::kBlockSize);
            return true;
        case ioctl::kIdePassThrough: return Ide(fd, opened, buffer, inLength, returned);
        default: return false;
    }
}

void LinuxDeviceIo::Refused(const Opened& opened) {
    if (errno != EPERM && errno != EACCES) return;
    Report(opened.node + " SG_IO",
           opened.node + " refuses vendor commands: " +
               (opened.generic ? std::string("open it read-write (run as root, or as a user in the disk group)")
                               : std::string("run as root, or load the sg module so that the disk's /dev/sg node "
                                             "can be used by a user in the disk group")));
}

bool LinuxDeviceIo::Scsi(int fd, const Opened& opened, std::span<uint8_t> buffer, size_t inLength) {
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
    if (::ioctl(fd, SG_IO, &h) != 0) {
        Refused(opened);
        return false;
    }
    const SgReply reply = ReplyOf(h, sense.data());
    if (!Delivered(reply)) return false;
    passthrough::CompleteScsi(buffer, h.status, ScsiTransferred(reply, request->transferLength), reply.sense);
    return true;
}

bool LinuxDeviceIo::Ide(int fd, const Opened& opened, std::span<uint8_t> buffer, size_t inLength, size_t& returned) {
    const auto request = passthrough::DecodeIde(buffer, inLength);
    if (!request) return false;
    std::array<uint8_t, 16> cdb = AtaPassThrough16(request->taskfile, request->dataSize);
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
    if (::ioctl(fd, SG_IO, &h) != 0) {
        Refused(opened);
        return false;
    }
    const AtaOutcome outcome = AtaResult(ReplyOf(h, sense.data()));
    // The taskfile goes back to the caller whatever the command's outcome.
    if (outcome.returned) passthrough::PutReturned(*outcome.returned, buffer);
    if (!outcome.ok) return false;
    returned = passthrough::ide::kData + request->dataSize;
    return true;
}

uint32_t LinuxDeviceIo::LogicalDrives() {
    uint32_t mask = 0;
    const DiskMap map = Scan();
    for (const MountedVolume& v : map.Volumes()) mask |= 1u << (v.letter - 'A');
    return mask;
}

unsigned LinuxDeviceIo::DriveType(const std::string& rootPath) {
    const char letter = RootPathLetter(rootPath);
    const DiskMap map = Scan();
    const MountedVolume* v = letter ? map.VolumeOf(letter) : nullptr;
    if (!v) return drive_type::kNoRootDir;
    return v->removable ? drive_type::kRemovable : drive_type::kFixed;
}

}  // namespace kestrel::linuxio
