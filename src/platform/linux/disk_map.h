#pragma once
// How the Linux block devices appear as the physical drives and drive
// letters the program expects, read from sysfs and the mount table under a
// root directory ("/" normally; tests give a fake tree).
//
// Physical drives: the whole disks of <root>/sys/block that are real
// devices (they have a "device" entry; loop, ram, zram, dm-, md, sr, fd and
// nbd devices are left out), the sd* disks first in kernel order (sda, sdb,
// ..., sdz, sdaa), then the others by length and name (nvme0n1, vda, ...).
// A disk keeps its physical drive number for as long as it stays attached
// (DriveNumbers); a removed disk's number stays free until a new disk takes
// the lowest free one, new disks taking numbers in the order above.
//
// Drive letters: every block device of those disks that is mounted (a
// partition, or a whole disk without partitions), once however often it is
// mounted, ordered by physical drive number and then by start sector, takes
// the letters C:, D:, ... in turn, at most 24. The letter's drive type is
// removable when the disk says so, else fixed.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/drive_table.h"

namespace kestrel::linuxio {

struct WholeDisk {
    std::string name;  // as under /sys/block and /dev
    bool removable = false;
    uint64_t sectors = 0;
    // Tells this attachment of the disk from any other disk that later
    // gets the same name: name, device number and the kernel's disk
    // sequence number (when it has one).
    std::string identity;
    std::string genericNode;  // its SCSI generic node ("sg2"), empty when none
    unsigned number = 0;      // physical drive number
};

// The physical drive numbers 0-9, each held by one disk identity.
class DriveNumbers {
public:
    static constexpr unsigned kCount = DriveTable::kPhysicalDrives;
    // Disks gone free their numbers; disks kept keep theirs; new disks, in
    // the order given, take the lowest free numbers (none when all ten are
    // taken). Sets each disk's number; returns the disks that have one.
    std::vector<WholeDisk> Update(std::vector<WholeDisk> disks);

private:
    std::array<std::string, kCount> holders_;  // identity; empty = free
};

struct MountedVolume {
    char letter = 0;
    std::string device;  // partition or disk name under /dev
    unsigned disk = 0;   // physical drive number
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
    bool removable = false;
};

class DiskMap {
public:
    // numbers: the numbering to keep up to date; without it physical drive
    // n is the n-th disk (at most ten).
    static DiskMap Scan(const std::string& root, DriveNumbers* numbers = nullptr);
    // The identity the disk called name has now; empty when there is none.
    static std::string IdentityOf(const std::string& root, const std::string& name);
    const WholeDisk* DiskNumbered(unsigned number) const;
    const std::vector<WholeDisk>& Disks() const { return disks_; }
    const std::vector<MountedVolume>& Volumes() const { return volumes_; }
    const MountedVolume* VolumeOf(char letter) const;
    // Disk order used for physical drive numbers.
    static bool DiskBefore(const std::string& a, const std::string& b);

private:
    std::vector<WholeDisk> disks_;
    std::vector<MountedVolume> volumes_;
};

}  // namespace kestrel::linuxio
