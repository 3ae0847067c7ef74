#pragma once
// Builds status records and identify blocks field by field for tests.
#include <cstring>
#include <string>

#include "wire/drive_table.h"
#include "wire/status_sector.h"

namespace kestrel::testing {

// Writes text in ATA string order (bytes of each word swapped), padded with
// blanks to the field's length.
inline void PutAta(Block512& b, size_t offset, size_t length, const std::string& text) {
    for (size_t i = 0; i < length; ++i) b[offset + (i ^ 1u)] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

inline void PutSectors(Block512& b, size_t offset, uint64_t sectors) {
    for (size_t i = 0; i < 5; ++i) b[offset + i] = static_cast<uint8_t>(sectors >> (8 * i));
}

struct Record {
    Block512 b{};
    Record& diskState(uint8_t v) { b[status::kDiskState] = v; return *this; }
    Record& activity(uint8_t v) { b[status::kActivityFlags] = v; return *this; }
    Record& progress(uint8_t v) { b[status::kProgress] = v; return *this; }
    Record& mode(uint8_t v) { b[status::kRaidMode] = v; return *this; }
    Record& options(uint8_t v) { b[status::kOptionFlags] = v; return *this; }
    Record& env(uint8_t v) { b[status::kEnvFlags] = v; return *this; }
    Record& sensorSupport(uint8_t v) { b[status::kSensorSupport] = v; return *this; }
    Record& fan(unsigned rpm) { b[status::kFanRpm] = rpm & 0xFF; b[status::kFanRpm + 1] = (rpm >> 8) & 0xFF; return *this; }
    Record& temperature(uint8_t v) { b[status::kTemperature] = v; return *this; }
    Record& speed(uint8_t v) { b[status::kSataSpeed] = v; return *this; }
    Record& firmwareCode(const char* code) { std::memcpy(&b[status::kFirmwareCode], code, 3); return *this; }
    Record& capacity(uint64_t sectors) { PutSectors(b, status::kConfiguredCapacity, sectors); return *this; }
    Record& disk(int n, const std::string& model, const std::string& serial, uint64_t sectors) {
        PutAta(b, n == 0 ? status::kDisk1Model : status::kDisk2Model, status::kModelLength, model);
        PutAta(b, n == 0 ? status::kDisk1Serial : status::kDisk2Serial, status::kSerialLength, serial);
        PutSectors(b, n == 0 ? status::kDisk1Capacity : status::kDisk2Capacity, sectors);
        return *this;
    }
    Record& badSectors(uint8_t count) { b[status::kBadSectorCount] = count; return *this; }
    Record& badSectorEntry(unsigned k, uint32_t lba) {
        const size_t at = status::kBadSectorList + 4 * (k % 10);
        for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(lba >> (8 * i));
        return *this;
    }
    operator const Block512&() const { return b; }
};

inline Block512 IdentifyBlock(const std::string& model, const std::string& revision) {
    Block512 b{};
    PutAta(b, status::kIdentifyRevision, status::kIdentifyRevisionLength, revision);
    PutAta(b, status::kIdentifyModel, status::kModelLength, model);
    b[status::kIdentifySignature] = '3';
    b[status::kIdentifySignature + 1] = 'X';
    return b;
}

}  // namespace kestrel::testing
