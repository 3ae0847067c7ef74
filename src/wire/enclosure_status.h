#pragma once
// One enclosure's status, decoded from its 512-byte record with that
// enclosure's own firmware capabilities. Every page, rule, report and alert
// reads this value, never the record's bytes: a media scan is a scan in
// every view exactly when the enclosure's own firmware reports scans.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "wire/drive_table.h"

namespace kestrel {

// What an enclosure's firmware revision allows.
struct FirmwareCapabilities {
    bool scanReporting = false;     // a media scan is told from a rebuild
    bool environmentPanel = false;  // the fan and temperature panel
};
// From a revision such as "100126.0": six digits and a '.' at position 6.
FirmwareCapabilities CapabilitiesOf(const std::string& revision);
// From the revision in an enclosure's identify block.
FirmwareCapabilities CapabilitiesOfIdentify(const Block512& identify);

// The array as a whole, from the two members' "present" bits.
enum class ArrayState { Normal, SingleDisk, Failure };

// What the controller is doing to the members.
enum class Activity { None, Rebuild, Scan };

// Why a failed member failed (the replacement the controller found).
enum class Replacement { Unmatched, Matched, TooSmall };

// A member's state, by its deciding bit in the order absent, present,
// failed, inserted; Empty when none is set.
enum class DiskCondition { Empty, Absent, Present, Failed, Inserted };

struct MemberStatus {
    uint8_t nibble = 0;  // the member's four DiskState bits
    DiskCondition condition = DiskCondition::Empty;
    std::string model;   // 40 characters in ATA order, untrimmed, device bytes as they are
    std::string serial;  // 20 characters, likewise
    uint64_t sectors = 0;
    unsigned speedCode = 0;  // SATA link: 1 "1.5G", 2 "3G", 3 "6G"

    bool Absent() const { return condition == DiskCondition::Absent; }
    bool Present() const { return condition == DiskCondition::Present; }
    bool Failed() const { return condition == DiskCondition::Failed; }
    bool Inserted() const { return (nibble & 0x01) != 0; }
    bool PresentBit() const { return (nibble & 0x02) != 0; }
    bool FailedBit() const { return (nibble & 0x08) != 0; }
    bool HasSerial() const { return !serial.empty(); }
};

// Fan and over-temperature alarms, only when the enclosure says they count.
struct SensorAlarms {
    bool fanFailure = false;
    bool overTemperature = false;
};

struct EnclosureStatus {
    FirmwareCapabilities capabilities;  // the ones it was decoded with

    uint8_t configVersion = 0;
    // Options.
    bool buzzerEnabled = false;
    bool autoScan = false;
    bool scheduledBackup = false;
    uint8_t backupPeriod = 0;  // minutes
    uint8_t featureFlags = 0;

    uint8_t raidMode = 0;
    std::string modeName;     // "Striping(RAID0)" ... "Undefine"
    uint64_t configuredSectors = 0;
    std::string firmwareCode; // three characters, or "C00"

    uint8_t diskState = 0;    // both members' bits, as the controller sent them
    std::array<MemberStatus, 2> disks;  // 0 = HDD1, 1 = HDD2
    ArrayState array = ArrayState::Failure;

    Activity activity = Activity::None;
    int target = 0;           // member of the running activity: 0 HDD1, 1 HDD2
    uint8_t progress = 0;     // percent of the running activity
    Replacement replacement = Replacement::Unmatched;

    // Environment.
    uint8_t envFlags = 0;     // as sent; the event rules remember it
    bool fanFailureBit = false;
    bool overTemperatureBit = false;
    unsigned fanRpm = 0;
    unsigned temperature = 0;
    std::optional<SensorAlarms> sensors;  // when valid: support byte 0x11 and an 0xA high nibble
    bool environmentShown = false;        // the panel: capability, 0xA high nibble, not 0xAA

    // Bad sectors.
    bool badSectorHdd1 = false;
    bool badSectorHdd2 = false;
    uint8_t badSectorCount = 0;
    std::array<uint32_t, 10> badSectorRing{};  // entry n at n mod 10

    bool BothPresent() const { return array == ArrayState::Normal; }
    bool Running() const { return activity != Activity::None; }
    uint32_t BadSectorAddress(unsigned k) const { return badSectorRing[k % 10]; }
};

// The one decoding of a status record.
EnclosureStatus DecodeStatus(const Block512& record, FirmwareCapabilities capabilities);

// The current record of a committed slot, decoded with that slot's own
// firmware capabilities (from its own identify block).
EnclosureStatus SlotStatus(const DriveTable& drives, unsigned slot);
FirmwareCapabilities SlotCapabilities(const DriveTable& drives, unsigned slot);
// A poll's records of slots 0 and 1: the decoded record of each slot that
// was read, nothing for the others.
using SlotRecords = std::array<std::optional<EnclosureStatus>, 2>;
// The current records of the slots in mask (bit i: slot i), decoded; a slot
// with no drive behind it has none.
SlotRecords SlotStatuses(const DriveTable& drives, unsigned mask);
// The firmware revision of a committed slot's identify block (8 characters).
std::string SlotRevision(const DriveTable& drives, unsigned slot);

// DiskState of a record, for the poll's garbage test.
uint8_t DiskStateOf(const Block512& record);
// A member that has just left service keeps its identity (model, capacity
// and serial) from the previous record, so that later texts can name it.
void KeepPulledIdentity(const Block512& previous, Block512& record);
// The configuration record version of a status record.
uint8_t ConfigVersionOf(const Block512& record);

// A member's condition by its deciding bit: from its four DiskState bits,
// or from a whole DiskState (disk 0 HDD1, 1 HDD2).
DiskCondition ConditionOf(uint8_t nibble);
DiskCondition DiskConditionIn(uint8_t diskState, int disk);

// "present", "absent", "failed", "inserted" or "empty".
const char* ConditionName(DiskCondition condition);

}  // namespace kestrel
