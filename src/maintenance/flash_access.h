#pragma once
// Reading, programming and erasing the controller's SPI flash over the
// locked enclosure's access path, and the access-mode handshake that
// brackets them: flash access (3 ... 2) around every operation, and the
// boot area opened (4 ... 5) inside it when the operation starts below
// 0xC000. The brackets are closed on every exit, a failed block included.
//
// Runs on the user-interface thread and lets pending window events run
// before every block, so the window stays live; every handler that could
// reach the device checks the maintenance lock first.
#include <cstdint>
#include <functional>
#include <span>

#include "device/routes.h"
#include "device/transport.h"
#include "monitor/scheduler_flags.h"
#include "platform/op_result.h"
#include "wire/drive_table.h"

namespace kestrel {

inline constexpr uint32_t kBootAreaEnd = 0xC000;
inline constexpr uint32_t kFlashReadUnit = 512;
inline constexpr uint32_t kFlashProgramUnit = 256;
inline constexpr uint32_t kFlashEraseUnit = 4096;

class FlashAccess {
public:
    // letEventsRun: runs pending window events (the event loop's own, or a
    // test's); may be empty.
    FlashAccess(Transport& transport, const DriveTable& drives, SchedulerFlags& flags,
                std::function<void()> letEventsRun)
        : transport_(transport), drives_(drives), flags_(flags), letEventsRun_(std::move(letEventsRun)) {}

    // Codes 16 and 17 check the preconditions, open the locked enclosure's
    // drive and close it; the others go to the drive already open. Over the
    // bridge nothing is sent and the mode succeeds. A failure carries the
    // text the status bar shows.
    OpResult SetSpiMode(int code);
    // Success when every block succeeded. The buffers must hold length bytes
    // rounded up to the unit; a smaller one fails before anything is sent.
    OpResult SpiRead(uint32_t address, uint32_t length, std::span<uint8_t> buffer);
    OpResult SpiProgram(uint32_t address, uint32_t length, std::span<const uint8_t> data);
    OpResult SpiErase(uint32_t address, uint32_t length);

private:
    enum class Op { Read, Program, Erase };
    OpResult Run(Op op, uint32_t address, uint32_t length, std::span<uint8_t> in, std::span<const uint8_t> out);
    // An enclosure is locked for the operation and its drive opens; the
    // failure says which check failed.
    OpResult Preconditions();
    // A closing bracket sent after a failed block: the block's failure text
    // stays on the panel.
    OpResult CloseBracket(int code, const OpResult& before);
    uint32_t Flags() const { return drives_.EnclosureFlags[drives_.LockedEnclosure % DriveTable::kMaxEnclosures]; }

    Transport& transport_;
    const DriveTable& drives_;
    SchedulerFlags& flags_;
    std::function<void()> letEventsRun_;
};

}  // namespace kestrel
