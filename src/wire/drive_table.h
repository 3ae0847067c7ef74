#pragma once
// The committed list of enclosures, the probe tables of the running
// detection, and the slot selection shared by every subsystem. Owned by the
// composition root and handed out by reference.
//
// Threads: detection (DriveDetectThread) writes only the probe side
// (Probe*, Responder*, ProbingFlags, the member tables); the commit and
// everything else run on the user-interface thread, and the detection
// hand-shake keeps the two apart.
#include <array>
#include <cstdint>
#include <string>

namespace kestrel {

using Block512 = std::array<uint8_t, 512>;

// Bits of an AccessFlags byte: the low four bits are the drive number.
namespace access {
inline constexpr uint8_t kDriveMask = 0x0F;
inline constexpr uint8_t kAtaPassThrough = 0x10;
inline constexpr uint8_t kBridgeCdb = 0x20;
inline constexpr uint8_t kScsiMailbox = 0x40;
inline constexpr uint8_t kCdbShift1 = 0x80;
inline constexpr uint8_t kAnyPath = 0xF0;
inline unsigned DriveOf(uint32_t flags) { return flags & kDriveMask; }
}  // namespace access

// One record of the volume table: a logical drive letter and the physical
// disk that holds its first extent.
struct VolumeRecord {
    char letter = 0;
    uint8_t driveType = 0;   // 3 = fixed disk, 255 = the volume could not be opened
    uint8_t diskNumber = 0;
    uint64_t startingOffset = 0;
    uint64_t extentLength = 0;
};

struct DriveTable {
    static constexpr unsigned kNoEnclosure = 256;
    static constexpr int kPhysicalDrives = 10;
    static constexpr int kMaxLetters = 24;
    static constexpr int kMaxVolumes = 20;
    static constexpr int kMaxEnclosures = 8;
    static constexpr int kMaxMembers = 4;

    // Logical drives, from C: upward.
    std::array<char, kMaxLetters> LogicalLetters{};
    int LogicalDriveCount = 0;
    // The committed volume table, which the labels read; the detection fills
    // the probe copy and the commit publishes it with the enclosures.
    std::array<VolumeRecord, kMaxVolumes> VolumeTable{};
    int VolumeCount = 0;
    std::array<VolumeRecord, kMaxVolumes> ProbeVolumeTable{};
    int ProbeVolumeCount = 0;
    int PhysicalDriveCount = 0;

    // Committed enclosures; the slot index is the position in this list.
    std::array<uint32_t, kMaxEnclosures> EnclosureFlags{};
    unsigned EnclosureCount = 0;

    // The detection in progress.
    std::array<uint32_t, kMaxEnclosures> ProbeFlags{};
    unsigned ProbeCount = 0;
    uint32_t ProbingFlags = 0;
    std::array<uint32_t, kPhysicalDrives> ResponderFlags{};
    unsigned ResponderCount = 0;
    std::array<uint8_t, kMaxMembers> MemberCount{};
    std::array<std::array<uint8_t, kPhysicalDrives>, kMaxMembers> MemberDrive{};

    // Blocks by physical drive number.
    std::array<Block512, kPhysicalDrives> ProbeIdentify{};
    std::array<Block512, kPhysicalDrives> KnownIdentify{};
    std::array<Block512, kPhysicalDrives> ProbeStatus{};
    std::array<Block512, kPhysicalDrives> CurrentStatus{};

    unsigned SelectedEnclosure = 0;             // slot that status reads go to
    unsigned LockedEnclosure = kNoEnclosure;    // slot under maintenance

    // Labels of the two slots the window serves.
    std::array<std::string, 2> DeviceLabel;

    bool IsLocked() const { return LockedEnclosure != kNoEnclosure; }
    // Drive number of a committed slot.
    unsigned DriveOfSlot(unsigned slot) const { return access::DriveOf(EnclosureFlags[slot % kMaxEnclosures]); }
    // The blocks of a committed slot; an all-zero block for a drive number
    // outside 0-9, which detection never commits.
    const Block512& StatusOfSlot(unsigned slot) const { return Checked(CurrentStatus, DriveOfSlot(slot)); }
    const Block512& IdentifyOfSlot(unsigned slot) const { return Checked(KnownIdentify, DriveOfSlot(slot)); }

private:
    static const Block512& Checked(const std::array<Block512, kPhysicalDrives>& blocks, unsigned drive) {
        static const Block512 kEmpty{};
        return drive < blocks.size() ? blocks[drive] : kEmpty;
    }
};

}  // namespace kestrel
