#include "wire/enclosure_status.h"

#include <algorithm>

#include "wire/status_sector.h"

namespace kestrel {

namespace st = status;

FirmwareCapabilities CapabilitiesOf(const std::string& revision) {
    if (revision.size() < 7 || revision[6] != '.') return {};
    unsigned n = 0;
    for (int i = 0; i < 6; ++i) {
        const char c = revision[static_cast<size_t>(i)];
        if (c < '0' || c > '9') return {};
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return {n > 90618, n > 100125};
}

FirmwareCapabilities CapabilitiesOfIdentify(const Block512& identify) {
    return CapabilitiesOf(st::IdentifyRevision(identify));
}

DiskCondition ConditionOf(uint8_t nibble) {
    if (nibble & st::kAbsent) return DiskCondition::Absent;
    if (nibble & st::kPresent) return DiskCondition::Present;
    if (nibble & st::kFailed) return DiskCondition::Failed;
    if (nibble & st::kInserted) return DiskCondition::Inserted;
    return DiskCondition::Empty;
}

DiskCondition DiskConditionIn(uint8_t diskState, int disk) { return ConditionOf(st::DiskNibble(diskState, disk)); }

namespace {

MemberStatus MemberOf(const Block512& s, int disk) {
    MemberStatus m;
    m.nibble = st::DiskNibble(s[st::kDiskState], disk);
    m.condition = ConditionOf(m.nibble);
    m.model = st::AtaString(s, disk == 0 ? st::kDisk1Model : st::kDisk2Model, st::kModelLength);
    m.serial = st::AtaString(s, disk == 0 ? st::kDisk1Serial : st::kDisk2Serial, st::kSerialLength);
    m.sectors = st::Sectors40(s, disk == 0 ? st::kDisk1Capacity : st::kDisk2Capacity);
    m.speedCode = st::DiskNibble(s[st::kSataSpeed], disk);
    return m;
}

}  // namespace

EnclosureStatus DecodeStatus(const Block512& s, FirmwareCapabilities caps) {
    EnclosureStatus e;
    e.capabilities = caps;
    e.configVersion = s[st::kConfigVersion];

    const uint8_t options = s[st::kOptionFlags];
    e.buzzerEnabled = (options & st::kBuzzerEnabled) != 0;
    e.autoScan = (options & st::kAutoScan) != 0;
    e.scheduledBackup = (options & st::kScheduledBackup) != 0;
    e.backupPeriod = s[st::kBackupPeriod];
    e.featureFlags = s[st::kFeatureFlags];

    e.raidMode = s[st::kRaidMode];
    e.modeName = st::ModeName(e.raidMode);
    e.configuredSectors = st::Sectors40(s, st::kConfiguredCapacity);
    e.firmwareCode = st::FirmwareText(s);

    e.diskState = s[st::kDiskState];
    e.disks = {MemberOf(s, 0), MemberOf(s, 1)};
    const uint8_t present = e.diskState & st::kBothPresent;
    e.array = present == st::kBothPresent ? ArrayState::Normal : present ? ArrayState::SingleDisk : ArrayState::Failure;

    const uint8_t activity = s[st::kActivityFlags];
    if (activity & (st::kTargetHdd1 | st::kTargetHdd2)) {
        // Firmware that does not report scans sends the scan bit with other
        // meanings: only the enclosure's own capability makes it a scan.
        e.activity = caps.scanReporting && (activity & st::kMediaScan) ? Activity::Scan : Activity::Rebuild;
        e.target = (activity & st::kTargetHdd1) ? 0 : 1;
    }
    e.progress = s[st::kProgress];
    e.replacement = (activity & st::kMatchedReplacement) ? Replacement::Matched
                    : (activity & st::kMediaScan)        ? Replacement::TooSmall
                                                         : Replacement::Unmatched;

    const uint8_t env = s[st::kEnvFlags];
    e.envFlags = env;
    e.fanFailureBit = (env & st::kFanFailure) != 0;
    e.overTemperatureBit = (env & st::kOverTemperature) != 0;
    e.fanRpm = st::FanRpm(s);
    e.temperature = s[st::kTemperature];
    const bool reportsEnvironment = (env & 0xF0) == 0xA0;
    if (s[st::kSensorSupport] == 0x11 && reportsEnvironment) e.sensors = SensorAlarms{e.fanFailureBit, e.overTemperatureBit};
    e.environmentShown = caps.environmentPanel && reportsEnvironment && env != 0xAA;

    e.badSectorHdd1 = (activity & st::kBadSectorHdd1) != 0;
    e.badSectorHdd2 = (activity & st::kBadSectorHdd2) != 0;
    e.badSectorCount = s[st::kBadSectorCount];
    for (unsigned k = 0; k < e.badSectorRing.size(); ++k) e.badSectorRing[k] = st::BadSectorAddress(s, k);
    return e;
}

FirmwareCapabilities SlotCapabilities(const DriveTable& drives, unsigned slot) {
    return CapabilitiesOfIdentify(drives.IdentifyOfSlot(slot));
}

std::string SlotRevision(const DriveTable& drives, unsigned slot) {
    return st::IdentifyRevision(drives.IdentifyOfSlot(slot));
}

EnclosureStatus SlotStatus(const DriveTable& drives, unsigned slot) {
    return DecodeStatus(drives.StatusOfSlot(slot), SlotCapabilities(drives, slot));
}

SlotRecords SlotStatuses(const DriveTable& drives, unsigned mask) {
    SlotRecords records;
    for (unsigned slot = 0; slot < records.size(); ++slot)
        if ((mask >> slot) & 1u && drives.DriveOfSlot(slot) < static_cast<unsigned>(DriveTable::kPhysicalDrives))
            records[slot] = SlotStatus(drives, slot);
    return records;
}

uint8_t DiskStateOf(const Block512& record) { return record[st::kDiskState]; }

uint8_t ConfigVersionOf(const Block512& record) { return record[st::kConfigVersion]; }

void KeepPulledIdentity(const Block512& previous, Block512& record) {
    struct Member {
        uint8_t presentBit;
        size_t model, capacity, serial;
    };
    const uint8_t diskState = record[st::kDiskState];
    for (const Member& m : {Member{st::kPresent, st::kDisk1Model, st::kDisk1Capacity, st::kDisk1Serial},
                            Member{static_cast<uint8_t>(st::kPresent << 4), st::kDisk2Model, st::kDisk2Capacity,
                                   st::kDisk2Serial}}) {
        if (!(previous[st::kDiskState] & m.presentBit) || (diskState & m.presentBit)) continue;
        // The capacity's five bytes and the one after them.
        std::copy_n(previous.begin() + static_cast<long>(m.model), st::kModelLength, record.begin() + static_cast<long>(m.model));
        std::copy_n(previous.begin() + static_cast<long>(m.capacity), 6, record.begin() + static_cast<long>(m.capacity));
        std::copy_n(previous.begin() + static_cast<long>(m.serial), st::kSerialLength, record.begin() + static_cast<long>(m.serial));
    }
}

const char* ConditionName(DiskCondition condition) {
    switch (condition) {
        case DiskCondition::Absent: return "absent";
        case DiskCondition::Present: return "present";
        case DiskCondition::Failed: return "failed";
        case DiskCondition::Inserted: return "inserted";
        case DiskCondition::Empty: break;
    }
    return "empty";
}

}  // namespace kestrel
