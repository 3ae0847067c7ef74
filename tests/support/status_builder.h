#pragma once
// Builds status records and identify blocks field by field for tests. The
// offsets are written out here from the record's published layout, not taken
// from the code's constants, so that a wrong constant in the code fails.
#include <cstring>
#include <string>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

namespace kestrel::testing {

namespace at {
inline constexpr size_t kOptionFlags = 56;
inline constexpr size_t kRaidMode = 57;
inline constexpr size_t kDisk1Serial = 58;
inline constexpr size_t kDisk2Serial = 78;
inline constexpr size_t kConfiguredCapacity = 98;
inline constexpr size_t kDiskState = 104;
inline constexpr size_t kActivityFlags = 105;
inline constexpr size_t kProgress = 106;
inline constexpr size_t kSensorSupport = 108;
inline constexpr size_t kFirmwareCode = 187;
inline constexpr size_t kBackupPeriod = 190;
inline constexpr size_t kDisk1Model = 256;
inline constexpr size_t kDisk1Capacity = 296;
inline constexpr size_t kDisk2Model = 302;
inline constexpr size_t kDisk2Capacity = 342;
inline constexpr size_t kEnvFlags = 348;
inline constexpr size_t kFanRpm = 349;
inline constexpr size_t kTemperature = 351;
inline constexpr size_t kSataSpeed = 357;
inline constexpr size_t kBadSectorCount = 471;
inline constexpr size_t kBadSectorList = 472;
inline constexpr size_t kSerialLength = 20;
inline constexpr size_t kModelLength = 40;
// Identify block.
inline constexpr size_t kIdentifyRevision = 46;
inline constexpr size_t kIdentifyRevisionLength = 8;
inline constexpr size_t kIdentifyModel = 54;
inline constexpr size_t kIdentifySignature = 258;
}  // namespace at

// Writes text in ATA string order (bytes of each word swapped), padded with
// blanks to the field's length.
inline void PutAta(Block512& b, size_t offset, size_t length, const std::string& text) {
    for (size_t i = 0; i < length; ++i) b[offset + (i ^ 1u)] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

inline void PutSectors(Block512& b, size_t offset, uint64_t sectors) {
    for (size_t i = 0; i < 5; ++i) b[offset + i] = static_cast<uint8_t>(sectors >> (8 * i));
}

// A record as an enclosure with these firmware capabilities decodes it.
inline EnclosureStatus Decoded(const Block512& b, bool scanReporting = false, bool environmentPanel = false) {
    return DecodeStatus(b, FirmwareCapabilities{scanReporting, environmentPanel});
}

struct Record {
    Block512 b{};
    Record& diskState(uint8_t v) { b[at::kDiskState] = v; return *this; }
    Record& activity(uint8_t v) { b[at::kActivityFlags] = v; return *this; }
    Record& progress(uint8_t v) { b[at::kProgress] = v; return *this; }
    Record& mode(uint8_t v) { b[at::kRaidMode] = v; return *this; }
    Record& options(uint8_t v) { b[at::kOptionFlags] = v; return *this; }
    Record& backupPeriod(uint8_t minutes) { b[at::kBackupPeriod] = minutes; return *this; }
    Record& env(uint8_t v) { b[at::kEnvFlags] = v; return *this; }
    Record& sensorSupport(uint8_t v) { b[at::kSensorSupport] = v; return *this; }
    Record& fan(unsigned rpm) { b[at::kFanRpm] = rpm & 0xFF; b[at::kFanRpm + 1] = (rpm >> 8) & 0xFF; return *this; }
    Record& temperature(uint8_t v) { b[at::kTemperature] = v; return *this; }
    Record& speed(uint8_t v) { b[at::kSataSpeed] = v; return *this; }
    Record& firmwareCode(const char* code) { std::memcpy(&b[at::kFirmwareCode], code, 3); return *this; }
    Record& capacity(uint64_t sectors) { PutSectors(b, at::kConfiguredCapacity, sectors); return *this; }
    Record& disk(int n, const std::string& model, const std::string& serial, uint64_t sectors) {
        PutAta(b, n == 0 ? at::kDisk1Model : at::kDisk2Model, at::kModelLength, model);
        PutAta(b, n == 0 ? at::kDisk1Serial : at::kDisk2Serial, at::kSerialLength, serial);
        PutSectors(b, n == 0 ? at::kDisk1Capacity : at::kDisk2Capacity, sectors);
        return *this;
    }
    Record& badSectors(uint8_t count) { b[at::kBadSectorCount] = count; return *this; }
    Record& badSectorEntry(unsigned k, uint32_t lba) {
        const size_t entry = at::kBadSectorList + 4 * (k % 10);
        for (size_t i = 0; i < 4; ++i) b[entry + i] = static_cast<uint8_t>(lba >> (8 * i));
        return *this;
    }
    operator const Block512&() const { return b; }
};

inline Block512 IdentifyBlock(const std::string& model, const std::string& revision) {
    Block512 b{};
    PutAta(b, at::kIdentifyRevision, at::kIdentifyRevisionLength, revision);
    PutAta(b, at::kIdentifyModel, at::kModelLength, model);
    b[at::kIdentifySignature] = '3';
    b[at::kIdentifySignature + 1] = 'X';
    return b;
}

// A decoded status that shows its sensors, for the history's tests.
inline EnclosureStatus SensorReading(unsigned temperature, unsigned fan, ArrayState array = ArrayState::Normal) {
    EnclosureStatus s;
    s.array = array;
    s.environmentShown = true;
    s.temperature = temperature;
    s.fanRpm = fan;
    return s;
}

}  // namespace kestrel::testing
