#pragma once
// Which requests carry each enclosure operation on each access path, chosen
// by the enclosure's access flags: bridge CDB (0x20), else SCSI mailbox
// (0x40), else ATA pass-through. The enclosure's drive must already be open
// as the transport's common handle; the caller closes it. A failure shows
// its text in status-bar panel 4 and returns it; nothing is retried.
#include <cstdint>
#include <span>

#include "device/transport.h"

namespace kestrel {

inline constexpr uint32_t kFlashSize = 0x80000;
inline constexpr uint32_t kStatusRecordStart = 0x78000;
inline constexpr uint32_t kStatusRecordStep = 256;

// Access mode codes of the flash handshake.
namespace spi_mode {
inline constexpr int kLeaveFlashAccess = 2;
inline constexpr int kEnterFlashAccess = 3;
inline constexpr int kUnlockBootArea = 4;
inline constexpr int kLockBootArea = 5;
inline constexpr int kLeaveUpgrade = 16;
inline constexpr int kEnterUpgrade = 17;
}  // namespace spi_mode

// 512 bytes of flash at address into buffer.
[[nodiscard]] OpResult ReadFlashBlock(Transport& transport, uint32_t flags, uint32_t address, std::span<uint8_t> buffer);
// Programs 256 bytes at address.
[[nodiscard]] OpResult ProgramFlashPage(Transport& transport, uint32_t flags, uint32_t address, std::span<const uint8_t> data);
// Erases the 4096-byte sector at address.
[[nodiscard]] OpResult EraseFlashSector(Transport& transport, uint32_t flags, uint32_t address);
// Sends an access mode code; over the bridge nothing is sent and it
// succeeds. On the mailbox path a code outside the table fails unsent.
[[nodiscard]] OpResult SendModeCommand(Transport& transport, uint32_t flags, int code);
// Sends the command sector as the caller prepared it (configuration,
// initialise and rebuild commands) to block 20, on every path.
[[nodiscard]] OpResult SendControllerCommand(Transport& transport);
// The newest status record over the bridge: walks the record area from
// 0x78000 in 256-byte steps and reads the last written record. Only the
// final read decides the outcome.
[[nodiscard]] OpResult SearchStatusRecord(Transport& transport, uint32_t flags, std::span<uint8_t> buffer);
// The StatusSector over the enclosure's path: the record search over the
// bridge ("Read Error for USB"), else READ(10) of block 33 ("Error code 330").
[[nodiscard]] OpResult ReadStatusSector(Transport& transport, uint32_t flags, Block512& buffer);

}  // namespace kestrel
