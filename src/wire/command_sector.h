#pragma once
// The 512-byte vendor command block written to a mailbox block: signature
// '3' 'X', command class, sub-code, 24-bit big-endian address, data from
// byte 7 and the 16-bit sum of bytes 7..509 at 510 (low byte first).
// Commands change only the bytes they name; the rest stays as the previous
// command left it.
#include <cstdint>

#include "wire/drive_table.h"

namespace kestrel {

namespace command {
inline constexpr size_t kClass = 2;
inline constexpr size_t kSubCode = 3;
inline constexpr size_t kAddress = 4;
inline constexpr size_t kData = 7;
inline constexpr size_t kWriteMark = 509;  // 'U' for flash program commands
inline constexpr size_t kChecksum = 510;
inline constexpr uint8_t kWriteMarkValue = 0x55;

inline constexpr uint8_t kFlashRead = 0x00;
inline constexpr uint8_t kFlashErase = 0x01;
inline constexpr uint8_t kFlashProgram = 0x02;
inline constexpr uint8_t kFlashAccessMode = 0x03;
inline constexpr uint8_t kBootAreaMode = 0x04;
inline constexpr uint8_t kUpgradeMode = 0x10;
inline constexpr uint8_t kConfiguration = 0x20;
inline constexpr uint8_t kDiskCommand = 0x22;
// The flash chip's own instruction bytes, used as sub-codes.
inline constexpr uint8_t kChipRead = 0x03;
inline constexpr uint8_t kChipSectorErase = 0x20;
inline constexpr uint8_t kChipPageProgram = 0x02;
}  // namespace command

// Sum of bytes 7..509 as unsigned bytes, truncated to 16 bits.
uint16_t CommandChecksum(const Block512& sector);
// True when the block carries the signature and a matching checksum.
bool IsValidCommandSector(const Block512& sector);

struct CommandSector {
    Block512 bytes{};
    void SetCommand(uint8_t commandClass, uint8_t subCode) {
        bytes[command::kClass] = commandClass;
        bytes[command::kSubCode] = subCode;
    }
    void SetAddress(uint32_t address);
    // Sets the signature and the checksum over the data area as it stands;
    // done immediately before every send.
    void Seal();
};

}  // namespace kestrel
