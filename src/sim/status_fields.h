#pragma once
// The named fields of the simulated status record and identify block, so a
// scenario can set any of them by name.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "wire/drive_table.h"
#include "sim/scenario.h"

namespace kestrel::sim {

enum class FieldKind {
    Byte,        // 0..255
    Word16,      // 0..65535, little-endian
    Sectors40,   // 40-bit sector count, little-endian
    Ata,         // text in ATA string order, padded with blanks
    Text,        // plain characters, exactly `length` of them
    SectorList,  // up to ten 32-bit addresses, little-endian
};

struct StatusField {
    const char* name;
    size_t offset;
    FieldKind kind;
    size_t length;  // bytes (Ata, Text)
};

std::span<const StatusField> StatusFields();
// Largest value of a numeric field.
uint64_t FieldLimit(const StatusField& field);
const StatusField* FindStatusField(std::string_view name);
// Empty when the value suits the field, else what was expected.
std::string CheckFieldValue(const StatusField& field, const FieldValue& value);
// Writes a checked value.
void WriteField(Block512& block, const StatusField& field, const FieldValue& value);

// Writes text in ATA string order (the two bytes of each word swapped),
// padded with blanks to the field's length.
void PutAtaString(uint8_t* field, size_t length, std::string_view text);

// An IdentifyBlock of a controller (signature '3' 'X') or of a plain disk.
Block512 MakeIdentifyBlock(const IdentityConfig& identity, bool controller);

}  // namespace kestrel::sim
