#pragma once
// The seam under the transport: open a device path, issue one I/O control
// code with one buffer used for input and output, close; and the logical
// volume queries that enumeration needs. The simulated PC and the Linux
// device layer implement it; calling code never knows which one it has.
//
// Paths are "\\.\PhysicalDrive<n>" for physical drive n and "\\.\<c>:" for
// the volume with drive letter c. Every device operation opens, issues its
// requests and closes; nothing is held between operations.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel {

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidHandle = -1;

// I/O control codes the transport and enumeration issue.
namespace ioctl {
inline constexpr uint32_t kScsiPassThroughDirect = 0x4D014;
inline constexpr uint32_t kIdePassThrough = 0x4D028;
inline constexpr uint32_t kScsiRescanBus = 0x4101C;
inline constexpr uint32_t kVolumeDiskExtents = 0x560000;
}  // namespace ioctl

// Drive types of a root path ("C:\").
namespace drive_type {
inline constexpr unsigned kUnknown = 0;
inline constexpr unsigned kNoRootDir = 1;
inline constexpr unsigned kRemovable = 2;
inline constexpr unsigned kFixed = 3;
inline constexpr unsigned kRemote = 4;
inline constexpr unsigned kCdrom = 5;
inline constexpr unsigned kRamdisk = 6;
}  // namespace drive_type

class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // Opens the path for reading and writing, shared; kInvalidHandle when it
    // cannot be opened.
    virtual DeviceHandle Open(const std::string& path) = 0;
    // Issues one control code. The buffer is the input (its first inLength
    // bytes) and the output (all of it). returned receives the number of
    // output bytes. False when the request itself failed.
    virtual bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                         size_t& returned) = 0;
    virtual void Close(DeviceHandle handle) = 0;
    // Bit i set: the drive letter 'A' + i exists.
    virtual uint32_t LogicalDrives() = 0;
    // Type of a root path such as "C:\" (drive_type values).
    virtual unsigned DriveType(const std::string& rootPath) = 0;
};

// "\\.\PhysicalDrive<n>" and "\\.\<c>:".
std::string PhysicalDrivePath(unsigned number);
std::string VolumePath(char letter);
// Parses a path of either form; false for any other text.
bool ParsePhysicalDrivePath(const std::string& path, unsigned& number);
bool ParseVolumePath(const std::string& path, char& letter);
// Letter of a root path "X:\"; 0 when the text is not one.
char RootPathLetter(const std::string& rootPath);

}  // namespace kestrel
