#include "device/routes.h"

#include <cstdio>
#include <optional>

namespace kestrel {

namespace {

enum class Path { Bridge, Mailbox, Ata };

Path PathOf(uint32_t flags) {
    if (flags & access::kBridgeCdb) return Path::Bridge;
    if (flags & access::kScsiMailbox) return Path::Mailbox;
    return Path::Ata;
}

// A write refused unsent keeps its own reason, in the panel and the result.
OpResult Fail(Transport& transport, const std::string& text) {
    if (transport.WriteRefused()) return OpResult::Failure(transport.LastFailure());
    transport.ReportFailure(text);
    return OpResult::Failure(text);
}

// A buffer too small for the request fails unsent, and says so only here.
OpResult TooSmall() { return OpResult::Failure("Buffer too small"); }

OpResult WriteToBlock(Transport& transport, uint32_t block) {
    if (transport.SendCommandSector(block)) return OpResult::Success();
    return Fail(transport, MailboxErrorText(block, true));
}

OpResult WriteToNumberedBlock(Transport& transport) { return WriteToBlock(transport, transport.NextMailboxBlock()); }

OpResult ReadBlock(Transport& transport, uint32_t block, std::span<uint8_t> buffer) {
    if (transport.ScsiRead10(transport.Handle(), block, buffer, 1)) return OpResult::Success();
    return Fail(transport, MailboxErrorText(block, false));
}

bool VendorAta(Transport& transport, uint8_t feature, std::optional<uint32_t> address) {
    AtaTaskfile taskfile;
    taskfile.features = feature;
    if (address) {
        taskfile.lbaLow = static_cast<uint8_t>(*address);
        taskfile.lbaMid = static_cast<uint8_t>(*address >> 8);
        taskfile.lbaHigh = static_cast<uint8_t>(*address >> 16);
        taskfile.device = 0xE0;
    }
    taskfile.command = kAtaVendorCommand;
    return transport.AtaCommand(transport.Handle(), taskfile, {}, 0);
}

OpResult Bridge(Transport& transport, uint32_t flags, BridgeKind kind, std::span<uint8_t> buffer, uint32_t address,
                const char* failure) {
    transport.SetCdbShiftFromFlags(flags);
    if (transport.BridgeCommand(kind, buffer, address)) return OpResult::Success();
    return Fail(transport, failure);
}

struct ModeBytes {
    int code;
    uint8_t commandClass;
    uint8_t subCode;
};
constexpr ModeBytes kModes[] = {
    {spi_mode::kEnterFlashAccess, command::kFlashAccessMode, 1},
    {spi_mode::kLeaveFlashAccess, command::kFlashAccessMode, 0},
    {spi_mode::kUnlockBootArea, command::kBootAreaMode, 1},
    {spi_mode::kLockBootArea, command::kBootAreaMode, 0},
    {spi_mode::kEnterUpgrade, command::kUpgradeMode, 1},
    {spi_mode::kLeaveUpgrade, command::kUpgradeMode, 0},
};

}  // namespace

OpResult ReadFlashBlock(Transport& transport, uint32_t flags, uint32_t address, std::span<uint8_t> buffer) {
    if (buffer.size() < 512) return TooSmall();
    switch (PathOf(flags)) {
        case Path::Bridge: return Bridge(transport, flags, BridgeKind::Read, buffer, address, "Read SPI Error USB");
        case Path::Mailbox: {
            CommandSector& sector = transport.Command();
            sector.SetCommand(command::kFlashRead, command::kChipRead);
            sector.SetAddress(address);
            if (OpResult sent = WriteToNumberedBlock(transport); !sent) return sent;
            break;
        }
        case Path::Ata:
            if (!VendorAta(transport, 0x01, address)) return Fail(transport, "VU command 0x88 FEA 0x01 Read Error");
            break;
    }
    return ReadBlock(transport, mailbox::kFlashResult, buffer);
}

OpResult ProgramFlashPage(Transport& transport, uint32_t flags, uint32_t address, std::span<const uint8_t> data) {
    if (data.size() < 256) return TooSmall();
    if (PathOf(flags) == Path::Bridge) {
        // The bridge only reads an outgoing buffer.
        std::span<uint8_t> out(const_cast<uint8_t*>(data.data()), 256);
        return Bridge(transport, flags, BridgeKind::Write, out, address, "Write SPI Error USB");
    }
    CommandSector& sector = transport.Command();
    sector.SetCommand(command::kFlashProgram, command::kChipPageProgram);
    sector.bytes[command::kWriteMark] = command::kWriteMarkValue;
    sector.SetAddress(address);
    std::copy_n(data.begin(), 256, sector.bytes.begin() + command::kData);
    return WriteToBlock(transport, mailbox::kCommand);
}

OpResult EraseFlashSector(Transport& transport, uint32_t flags, uint32_t address) {
    if (PathOf(flags) == Path::Bridge) {
        std::array<uint8_t, 8> reply{};
        return Bridge(transport, flags, BridgeKind::Erase, reply, address, "Erase SPI Error USB");
    }
    CommandSector& sector = transport.Command();
    sector.SetCommand(command::kFlashErase, command::kChipSectorErase);
    sector.SetAddress(address);
    return WriteToBlock(transport, mailbox::kCommand);
}

OpResult SendModeCommand(Transport& transport, uint32_t flags, int code) {
    switch (PathOf(flags)) {
        case Path::Bridge: return OpResult::Success();
        case Path::Mailbox:
            for (const ModeBytes& mode : kModes) {
                if (mode.code != code) continue;
                transport.Command().SetCommand(mode.commandClass, mode.subCode);
                return WriteToNumberedBlock(transport);
            }
            return OpResult::Failure("No such mode code");  // unsent; the panel stays as it was
        case Path::Ata:
            if (VendorAta(transport, static_cast<uint8_t>(code), std::nullopt)) return OpResult::Success();
            char text[40];
            std::snprintf(text, sizeof text, "VU command 0x88 FEA %02X Error", static_cast<unsigned>(code & 0xFF));
            return Fail(transport, text);
    }
    return OpResult::Failure("No such access path");
}

OpResult SendControllerCommand(Transport& transport) { return WriteToBlock(transport, mailbox::kCommand); }

OpResult SearchStatusRecord(Transport& transport, uint32_t flags, std::span<uint8_t> buffer) {
    if (buffer.size() < 512) return TooSmall();
    transport.SetCdbShiftFromFlags(flags);
    constexpr uint32_t kLast = kFlashSize - kStatusRecordStep;
    uint32_t address = kStatusRecordStart;
    // The first written record, then the first erased one after it.
    while (address <= kLast) {
        transport.BridgeCommand(BridgeKind::Probe, buffer, address);
        if (buffer[0] != 0xFF) break;
        address += kStatusRecordStep;
    }
    while (address <= kLast) {
        transport.BridgeCommand(BridgeKind::Probe, buffer, address);
        if (buffer[0] == 0xFF) break;
        address += kStatusRecordStep;
    }
    address -= kStatusRecordStep;
    // Said by the caller, which knows what was searched for.
    if (transport.BridgeCommand(BridgeKind::Read, buffer, address)) return OpResult::Success();
    return OpResult::Failure("Status record not read");
}

OpResult ReadStatusSector(Transport& transport, uint32_t flags, Block512& buffer) {
    if (PathOf(flags) == Path::Bridge) {
        if (SearchStatusRecord(transport, flags, buffer)) return OpResult::Success();
        return Fail(transport, "Read Error for USB");
    }
    return ReadBlock(transport, mailbox::kStatus, buffer);
}

}  // namespace kestrel
