#include "maintenance/flash_access.h"

namespace kestrel {

namespace {

uint32_t RoundUp(uint32_t length, uint32_t unit) { return (length + unit - 1) / unit * unit; }

}  // namespace

bool FlashAccess::Preconditions() {
    if (drives_.EnclosureCount == 0) {
        transport_.Bar().SetPanel(kErrorPanel, "Device not found!!!");
        transport_.Boxes().Show("No Device found !", "Message");
        return false;
    }
    if (drives_.LockedEnclosure >= drives_.EnclosureCount) {
        transport_.Bar().SetPanel(kErrorPanel, "No Upgrade Mode!!!");
        transport_.Boxes().Show("No Upgrade Mode !", "Message");
        return false;
    }
    return transport_.OpenForMaintenance(access::DriveOf(Flags()));
}

bool FlashAccess::SetSpiMode(int code) {
    if (code != spi_mode::kEnterUpgrade && code != spi_mode::kLeaveUpgrade)
        return SendModeCommand(transport_, Flags(), code);
    if (drives_.EnclosureCount == 0 || drives_.LockedEnclosure >= drives_.EnclosureCount) return Preconditions();
    if (Flags() & access::kBridgeCdb) return true;
    if (!Preconditions()) return false;
    const bool ok = SendModeCommand(transport_, Flags(), code);
    transport_.CloseDevice();
    return ok;
}

bool FlashAccess::CloseBracket(int code, bool failedBefore) {
    const std::string kept = failedBefore ? transport_.Bar().Panel(kErrorPanel) : std::string();
    const bool ok = SendModeCommand(transport_, Flags(), code);
    if (!ok && failedBefore) transport_.Bar().SetPanel(kErrorPanel, kept);
    return ok;
}

bool FlashAccess::Run(Op op, uint32_t address, uint32_t length, std::span<uint8_t> in,
                      std::span<const uint8_t> out) {
    const uint32_t unit = op == Op::Read ? kFlashReadUnit : op == Op::Program ? kFlashProgramUnit : kFlashEraseUnit;
    if (op == Op::Read && in.size() < RoundUp(length, unit)) return false;
    if (op == Op::Program && out.size() < RoundUp(length, unit)) return false;
    if (!Preconditions()) return false;
    const uint32_t flags = Flags();
    if (!SendModeCommand(transport_, flags, spi_mode::kEnterFlashAccess)) {
        transport_.CloseDevice();
        return false;
    }
    // Reads never open the boot area; programs and erases starting in it do.
    const bool boot = op != Op::Read && address < kBootAreaEnd;
    if (boot && !SendModeCommand(transport_, flags, spi_mode::kUnlockBootArea)) {
        CloseBracket(spi_mode::kLeaveFlashAccess, true);
        transport_.CloseDevice();
        return false;
    }
    bool ok = true;
    for (uint32_t offset = 0; offset < length; offset += unit) {
        const uint32_t a = address + offset;
        if (letEventsRun_) letEventsRun_();
        switch (op) {
            case Op::Read: ok = ReadFlashBlock(transport_, flags, a, in.subspan(offset, unit)); break;
            case Op::Program: ok = ProgramFlashPage(transport_, flags, a, out.subspan(offset, unit)); break;
            case Op::Erase: ok = EraseFlashSector(transport_, flags, a); break;
        }
        if (!ok) break;
        // One step per 512 bytes read or programmed, per 4 KiB erased.
        if (op != Op::Program || offset % 512 == 256) flags_.ProgressCounter.fetch_add(1);
    }
    const bool failed = !ok;
    if (boot) ok = CloseBracket(spi_mode::kLockBootArea, failed) && ok;
    ok = CloseBracket(spi_mode::kLeaveFlashAccess, failed) && ok;
    transport_.CloseDevice();
    return ok;
}

bool FlashAccess::SpiRead(uint32_t address, uint32_t length, std::span<uint8_t> buffer) {
    return Run(Op::Read, address, length, buffer, {});
}

bool FlashAccess::SpiProgram(uint32_t address, uint32_t length, std::span<const uint8_t> data) {
    return Run(Op::Program, address, length, {}, data);
}

bool FlashAccess::SpiErase(uint32_t address, uint32_t length) { return Run(Op::Erase, address, length, {}, {}); }

}  // namespace kestrel
