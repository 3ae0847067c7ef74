#include "wire/status_sector.h"

#include <array>

namespace kestrel::status {

std::string AtaString(const uint8_t* field, size_t length) {
    std::string text;
    text.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const size_t source = i ^ 1u;
        if (source >= length) break;  // odd length: the last byte has no partner
        const char c = static_cast<char>(field[source]);
        if (c == '\0') break;
        text.push_back(c);
    }
    return text;
}

std::string AtaString(const Block512& block, size_t offset, size_t length) {
    if (offset >= block.size()) return {};
    if (length > block.size() - offset) length = block.size() - offset;
    return AtaString(block.data() + offset, length);
}

std::string TrimModel(const std::string& text) {
    size_t end = text.size();
    while (end > 6 && text[end - 1] == ' ') --end;
    return text.substr(0, end);
}

uint64_t Sectors40(const Block512& block, size_t offset) {
    uint64_t value = 0;
    for (size_t i = 0; i < 5 && offset + i < block.size(); ++i) value |= uint64_t{block[offset + i]} << (8 * i);
    return value;
}

std::string CapacityText(uint64_t sectors) {
    return std::to_string(Gigabytes(sectors)) + " GB(" + std::to_string(sectors) + " Sectors)";
}

unsigned FanRpm(const Block512& block) { return block[kFanRpm + 1] * 256u + block[kFanRpm]; }

std::string FirmwareText(const Block512& block) {
    const char a = static_cast<char>(block[kFirmwareCode]);
    const char b = static_cast<char>(block[kFirmwareCode + 1]);
    const char c = static_cast<char>(block[kFirmwareCode + 2]);
    auto hexDigit = [](char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'); };
    if (a >= 'A' && a <= 'Z' && hexDigit(b) && hexDigit(c)) return std::string{a, b, c};
    return "C00";
}

std::string ModeName(uint8_t raidMode) {
    static constexpr std::array<const char*, 4> kNames = {"Striping(RAID0)", "Mirroring(RAID1)", "NRAID", "JBOD"};
    if (raidMode < kNames.size()) return kNames[raidMode];
    if (raidMode == 63) return "Bypass";
    return "Undefine";
}

std::string SataSpeedLabel(unsigned code) {
    static constexpr std::array<const char*, 4> kLabels = {"", "1.5G", "3G", "6G"};
    return code < kLabels.size() ? kLabels[code] : "";
}

const char* DiskStateName(uint8_t nibble) {
    if (nibble & kAbsent) return "absent";
    if (nibble & kPresent) return "present";
    if (nibble & kFailed) return "failed";
    if (nibble & kInserted) return "inserted";
    return "";
}

uint32_t BadSectorAddress(const Block512& block, unsigned k) {
    const size_t at = kBadSectorList + 4 * (k % 10);
    return uint32_t{block[at]} | uint32_t{block[at + 1]} << 8 | uint32_t{block[at + 2]} << 16 |
           uint32_t{block[at + 3]} << 24;
}

std::string IdentifyRevision(const Block512& identify) {
    return AtaString(identify, kIdentifyRevision, kIdentifyRevisionLength);
}

std::string IdentifyModel(const Block512& identify) { return AtaString(identify, kIdentifyModel, kModelLength); }

std::string IdentifySerial(const Block512& identify) {
    return AtaString(identify, kIdentifySerial, kIdentifySerialLength);
}

bool HasControllerSignature(const Block512& identify) {
    return identify[kIdentifySignature] == '3' && identify[kIdentifySignature + 1] == 'X';
}

}  // namespace kestrel::status
