#pragma once
// One simulated enclosure controller: its IdentifyBlock, its live status
// record, 512 KiB of NOR flash, the flash access modes, and the commands of
// the vendor protocol. Strict like the hardware: a command sector with a
// bad signature or checksum fails, flash commands outside flash access mode
// fail, erase and program below 0xC000 fail while the boot area is locked,
// program only clears bits. The bridge's own flash opcodes reach the flash
// directly and need no mode.
//
// Status records: the controller keeps its status as 256-byte records in
// flash from 0x78000 on. When the host begins a record search (a probe of
// 0x78000) and the status has changed since the last record, it appends a
// new record (erasing the area first when it is full). A bridge read of the
// newest record it wrote answers the whole 512-byte status: the record,
// then the live second half. A host erase or program in the record area
// makes it forget that record, so an upgrade's verify reads plain flash.
//
// Not thread-safe: the simulated PC serialises every call.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "platform/pass_through.h"
#include "sim/scenario.h"

namespace kestrel::sim {

inline constexpr uint32_t kFlashBytes = 0x80000;
inline constexpr uint32_t kRecordArea = 0x78000;
inline constexpr uint32_t kRecordBytes = 256;
inline constexpr uint32_t kBootAreaEnd = 0xC000;
inline constexpr uint32_t kSectorBytes = 4096;

// A valid image: magic "FIPS", record offset 0x78000, one sub-code block,
// the configuration record (ConfigVersion 0xA0, "VOLTRA", checksum) and an
// erased record area.
std::vector<uint8_t> MakeDefaultFlashImage();
// Sum of record bytes 0..253, truncated to 16 bits.
uint16_t RecordChecksum(const uint8_t* record);

inline constexpr size_t kCommandLogLimit = 1000;

struct ControllerModes {
    bool flashAccess = false;
    bool bootUnlocked = false;
    bool upgrade = false;
};

class Controller {
public:
    explicit Controller(const EnclosureConfig& config);

    const std::string& Name() const { return name_; }
    const PathSet& Paths() const { return paths_; }
    bool Plugged() const { return plugged_; }

    // Kind of a command sector by its class; Command for anything unknown.
    static RequestKind ClassifyCommand(const Block512& sector);
    // Runs a command sector written to a mailbox block.
    bool RunCommandSector(const Block512& sector);
    // Vendor ATA command 0x88 with the given registers.
    bool RunVendorAta(const passthrough::AtaTaskfile& taskfile);

    const Block512& Identify() const { return identify_; }
    const Block512& Status() const { return status_; }
    const Block512& FlashResult() const { return flashResult_; }

    // Bridge flash access. Read and Probe answer 512 bytes (0xFF past the
    // end of flash).
    bool BridgeRead(uint32_t address, std::span<uint8_t> out, bool probe);
    // True when a bridge read of this address would answer the status.
    bool IsStatusRecord(uint32_t address) const { return currentRecord_ && *currentRecord_ == address; }
    bool BridgeProgram(uint32_t address, std::span<const uint8_t> data);
    bool BridgeErase(uint32_t address);

    // Keeps a configuration, initialise or rebuild command sector as it
    // arrived; the log holds the newest kCommandLogLimit.
    void RecordCommand(const Block512& sector);
    const std::vector<Block512>& Commands() const { return commands_; }

    // One status read was served: running rebuilds and scans advance.
    void CountStatusRead();
    unsigned StatusReads() const { return statusReads_; }

    // The next `times` requests of this kind fail (-1: every one from then
    // on, 0: none), after `after` more of them have succeeded.
    void SetFailure(RequestKind kind, int times, int after = 0);
    // True when this request must fail (and uses up one failure).
    bool ConsumeFailure(RequestKind kind);

    // A timeline action on this enclosure.
    void Apply(const Step& step);
    bool SetField(const FieldSetting& setting);

    ControllerModes Modes() const { return modes_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    // Replaces flash bytes as they are, for tests; forgets the newest record.
    void OverwriteFlash(uint32_t offset, std::span<const uint8_t> data);

private:
    bool Program(uint32_t address, const uint8_t* data, bool fromHost);
    bool Erase(uint32_t address, bool fromHost);
    bool StageFlashRead(uint32_t address);
    void StatusChanged();
    void PublishRecord();
    void SetNibble(int disk, uint8_t value);
    void StartActivity(int disk, bool scan, unsigned step);
    void FreshArray();

    std::string name_;
    PathSet paths_;
    bool plugged_ = true;
    Block512 identify_{};
    Block512 status_{};
    Block512 flashResult_{};
    std::vector<uint8_t> flash_;
    ControllerModes modes_;
    std::optional<uint32_t> currentRecord_;
    unsigned statusReads_ = 0;
    std::vector<Block512> commands_;

    struct Activity {
        bool running = false;
        bool scan = false;
        int disk = 1;
        unsigned step = 10;
    } activity_;

    struct Failure {
        int skip = 0;  // requests that still succeed first
        int left = 0;  // failures remaining; -1 = from then on
    };
    std::array<Failure, kRequestKindCount> failures_{};
};

}  // namespace kestrel::sim
