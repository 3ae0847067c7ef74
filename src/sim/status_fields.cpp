#include "sim/status_fields.h"

#include <algorithm>
#include <array>

#include "wire/status_sector.h"
#include "wire/byte_order.h"

namespace kestrel::sim {

namespace {

namespace st = kestrel::status;

constexpr std::array kFields = {
    StatusField{"configVersion", st::kConfigVersion, FieldKind::Byte, 1},
    StatusField{"optionFlags", st::kOptionFlags, FieldKind::Byte, 1},
    StatusField{"raidMode", st::kRaidMode, FieldKind::Byte, 1},
    StatusField{"disk1Serial", st::kDisk1Serial, FieldKind::Ata, st::kSerialLength},
    StatusField{"disk2Serial", st::kDisk2Serial, FieldKind::Ata, st::kSerialLength},
    StatusField{"configuredCapacity", st::kConfiguredCapacity, FieldKind::Sectors40, 5},
    StatusField{"diskState", st::kDiskState, FieldKind::Byte, 1},
    StatusField{"activityFlags", st::kActivityFlags, FieldKind::Byte, 1},
    StatusField{"progress", st::kProgress, FieldKind::Byte, 1},
    StatusField{"chipFlag", 107, FieldKind::Byte, 1},
    StatusField{"sensorSupport", st::kSensorSupport, FieldKind::Byte, 1},
    StatusField{"fanAlarmLimit", 109, FieldKind::Word16, 2},
    StatusField{"thermalAlarmLimit", 111, FieldKind::Byte, 1},
    StatusField{"featureFlags", st::kFeatureFlags, FieldKind::Byte, 1},
    StatusField{"firmwareCode", st::kFirmwareCode, FieldKind::Text, 3},
    StatusField{"backupPeriod", st::kBackupPeriod, FieldKind::Byte, 1},
    StatusField{"disk1Model", st::kDisk1Model, FieldKind::Ata, st::kModelLength},
    StatusField{"disk1Capacity", st::kDisk1Capacity, FieldKind::Sectors40, 5},
    StatusField{"disk2Model", st::kDisk2Model, FieldKind::Ata, st::kModelLength},
    StatusField{"disk2Capacity", st::kDisk2Capacity, FieldKind::Sectors40, 5},
    StatusField{"envFlags", st::kEnvFlags, FieldKind::Byte, 1},
    StatusField{"fanRpm", st::kFanRpm, FieldKind::Word16, 2},
    StatusField{"temperature", st::kTemperature, FieldKind::Byte, 1},
    StatusField{"sataSpeed", st::kSataSpeed, FieldKind::Byte, 1},
    StatusField{"altModel", st::kAltModel, FieldKind::Ata, st::kModelLength},
    StatusField{"badSectorCount", st::kBadSectorCount, FieldKind::Byte, 1},
    StatusField{"badSectorList", st::kBadSectorList, FieldKind::SectorList, 40},
};

uint64_t KindLimit(FieldKind kind) {
    switch (kind) {
        case FieldKind::Byte: return 0xFF;
        case FieldKind::Word16: return 0xFFFF;
        case FieldKind::Sectors40: return 0xFFFFFFFFFFull;
        default: return 0;
    }
}

}  // namespace

std::span<const StatusField> StatusFields() { return kFields; }

uint64_t FieldLimit(const StatusField& field) { return KindLimit(field.kind); }

const StatusField* FindStatusField(std::string_view name) {
    for (const StatusField& f : kFields)
        if (name == f.name) return &f;
    return nullptr;
}

std::string CheckFieldValue(const StatusField& field, const FieldValue& value) {
    switch (field.kind) {
        case FieldKind::Byte:
        case FieldKind::Word16:
        case FieldKind::Sectors40: {
            const auto* n = std::get_if<uint64_t>(&value);
            if (!n || *n > KindLimit(field.kind)) return "a whole number from 0 to " + std::to_string(KindLimit(field.kind));
            return {};
        }
        case FieldKind::Ata: {
            const auto* s = std::get_if<std::string>(&value);
            if (!s || s->size() > field.length) return "a text of at most " + std::to_string(field.length) + " characters";
            return {};
        }
        case FieldKind::Text: {
            const auto* s = std::get_if<std::string>(&value);
            if (!s || s->size() != field.length) return "a text of exactly " + std::to_string(field.length) + " characters";
            return {};
        }
        case FieldKind::SectorList: {
            const auto* l = std::get_if<std::vector<uint32_t>>(&value);
            if (!l || l->size() > 10) return "a list of at most 10 sector addresses";
            return {};
        }
    }
    return "a value";
}

void WriteField(Block512& block, const StatusField& field, const FieldValue& value) {
    uint8_t* at = block.data() + field.offset;
    switch (field.kind) {
        case FieldKind::Byte: *at = static_cast<uint8_t>(std::get<uint64_t>(value)); break;
        case FieldKind::Word16: bytes::PutLe16(at, static_cast<uint16_t>(std::get<uint64_t>(value))); break;
        case FieldKind::Sectors40: {
            const uint64_t n = std::get<uint64_t>(value);
            for (int i = 0; i < 5; ++i) at[i] = static_cast<uint8_t>(n >> (8 * i));
            break;
        }
        case FieldKind::Ata: PutAtaString(at, field.length, std::get<std::string>(value)); break;
        case FieldKind::Text: {
            const std::string& s = std::get<std::string>(value);
            std::copy_n(s.begin(), std::min(s.size(), field.length), at);
            break;
        }
        case FieldKind::SectorList: {
            const auto& list = std::get<std::vector<uint32_t>>(value);
            std::fill_n(at, field.length, uint8_t{0});
            for (size_t i = 0; i < list.size() && i < 10; ++i) bytes::PutLe32(at + 4 * i, list[i]);
            break;
        }
    }
}

void PutAtaString(uint8_t* field, size_t length, std::string_view text) {
    for (size_t i = 0; i < length; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        const size_t target = i ^ 1u;
        if (target < length) field[target] = static_cast<uint8_t>(c);
    }
}

Block512 MakeIdentifyBlock(const IdentityConfig& identity, bool controller) {
    Block512 block{};
    bytes::PutLe16(block.data(), 0x0040);  // fixed device
    PutAtaString(block.data() + 20, 20, identity.serial);
    PutAtaString(block.data() + st::kIdentifyRevision, st::kIdentifyRevisionLength, identity.firmwareRevision);
    PutAtaString(block.data() + st::kIdentifyModel, st::kModelLength, identity.model);
    if (controller) {
        block[st::kIdentifySignature] = '3';
        block[st::kIdentifySignature + 1] = 'X';
    }
    return block;
}

}  // namespace kestrel::sim
