#pragma once
// The enclosure's 512-byte status record: field offsets and the decoding
// rules every presentation, event and alert uses. Decoding never reads past
// the record.
#include <cstdint>
#include <string>

#include "wire/drive_table.h"

namespace kestrel::status {

// Field offsets (bytes) in the status record.
inline constexpr size_t kConfigVersion = 1;
inline constexpr size_t kOptionFlags = 56;
inline constexpr size_t kRaidMode = 57;
inline constexpr size_t kDisk1Serial = 58;
inline constexpr size_t kDisk2Serial = 78;
inline constexpr size_t kSerialLength = 20;
inline constexpr size_t kConfiguredCapacity = 98;
inline constexpr size_t kDiskState = 104;
inline constexpr size_t kActivityFlags = 105;
inline constexpr size_t kProgress = 106;
inline constexpr size_t kSensorSupport = 108;
inline constexpr size_t kFeatureFlags = 113;
inline constexpr size_t kFirmwareCode = 187;
inline constexpr size_t kBackupPeriod = 190;
inline constexpr size_t kDisk1Model = 256;
inline constexpr size_t kDisk1Capacity = 296;
inline constexpr size_t kDisk2Model = 302;
inline constexpr size_t kDisk2Capacity = 342;
inline constexpr size_t kModelLength = 40;
inline constexpr size_t kEnvFlags = 348;
inline constexpr size_t kFanRpm = 349;
inline constexpr size_t kTemperature = 351;
inline constexpr size_t kSataSpeed = 357;
inline constexpr size_t kAltModel = 378;
inline constexpr size_t kBadSectorCount = 471;
inline constexpr size_t kBadSectorList = 472;

// IdentifyBlock fields.
inline constexpr size_t kIdentifySerial = 20;  // the ATA serial number field, 20 characters
inline constexpr size_t kIdentifySerialLength = 20;
inline constexpr size_t kIdentifyRevision = 46;
inline constexpr size_t kIdentifyRevisionLength = 8;
inline constexpr size_t kIdentifyModel = 54;
inline constexpr size_t kIdentifySignature = 258;

// DiskState bits; HDD2's are these shifted left by four.
inline constexpr uint8_t kInserted = 0x01;
inline constexpr uint8_t kPresent = 0x02;
inline constexpr uint8_t kAbsent = 0x04;
inline constexpr uint8_t kFailed = 0x08;
inline constexpr uint8_t kBothPresent = 0x22;

// ActivityFlags bits.
inline constexpr uint8_t kTargetHdd1 = 0x01;
inline constexpr uint8_t kTargetHdd2 = 0x02;
inline constexpr uint8_t kBadSectorHdd1 = 0x04;
inline constexpr uint8_t kBadSectorHdd2 = 0x08;
inline constexpr uint8_t kMatchedReplacement = 0x10;
inline constexpr uint8_t kMediaScan = 0x80;  // also "capacity too small" with a failed disk

// EnvFlags bits.
inline constexpr uint8_t kFanFailure = 0x01;
inline constexpr uint8_t kOverTemperature = 0x04;

// OptionFlags bits.
inline constexpr uint8_t kBuzzerEnabled = 0x01;
inline constexpr uint8_t kAutoScan = 0x02;
inline constexpr uint8_t kScheduledBackup = 0x04;

// Text of a field in ATA string order (the two bytes of each word swapped),
// ending at the first NUL or at the field's end. Bytes are kept as they are.
std::string AtaString(const uint8_t* field, size_t length);
std::string AtaString(const Block512& block, size_t offset, size_t length);

// Removes trailing blanks but never shortens the text below six characters.
std::string TrimModel(const std::string& text);

// 40-bit little-endian sector count.
uint64_t Sectors40(const Block512& block, size_t offset);
inline uint64_t Gigabytes(uint64_t sectors) { return sectors >> 21; }
inline uint64_t Megabytes(uint64_t sectors) { return sectors >> 11; }
// "<GB> GB(<sectors> Sectors)"
std::string CapacityText(uint64_t sectors);

unsigned FanRpm(const Block512& block);
// The three-character firmware code, or "C00" when it does not match an
// upper-case letter followed by two digits or upper-case hex letters.
std::string FirmwareText(const Block512& block);
// "Striping(RAID0)", "Mirroring(RAID1)", "NRAID", "JBOD", "Bypass" or "Undefine".
std::string ModeName(uint8_t raidMode);
// "", "1.5G", "3G", "6G" for the codes 0..3; any other code gives "".
std::string SataSpeedLabel(unsigned code);
// DiskState nibble of one member: disk 0 = HDD1, 1 = HDD2.
inline uint8_t DiskNibble(uint8_t diskState, int disk) {
    return disk == 0 ? (diskState & 0x0F) : static_cast<uint8_t>(diskState >> 4);
}
// Name of a DiskState nibble's deciding bit (absent, present, failed,
// inserted, in that order of precedence), or "" when none is set.
const char* DiskStateName(uint8_t nibble);
// The 32-bit address in ring entry k of the bad sector list.
uint32_t BadSectorAddress(const Block512& block, unsigned k);

// IdentifyBlock: firmware revision (8 characters) and model name (40).
std::string IdentifyRevision(const Block512& identify);
std::string IdentifyModel(const Block512& identify);
// The controller's serial number, where its block carries one (else blanks
// or NULs).
std::string IdentifySerial(const Block512& identify);
bool HasControllerSignature(const Block512& identify);

}  // namespace kestrel::status
