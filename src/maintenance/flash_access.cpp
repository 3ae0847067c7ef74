#include "maintenance/flash_access.h"

namespace kestrel {

namespace {

uint32_t RoundUp(uint32_t length, uint32_t unit) { return (length + unit - 1) / unit * unit; }

}  // namespace

OpResult FlashAccess::Preconditions() {
    if (drives_.EnclosureCount == 0) {
        transport_.ReportFailure("Device not found!!!");
        transport_.Boxes().Show("No Device found !", "Message");
        return OpResult::Failure("Device not found!!!");
    }
    if (drives_.LockedEnclosure >= drives_.EnclosureCount) {
        transport_.ReportFailure("No Upgrade Mode!!!");
        transport_.Boxes().Show("No Upgrade Mode !", "Message");
        return OpResult::Failure("No Upgrade Mode!!!");
    }
    return transport_.OpenForMaintenance(access::DriveOf(Flags()));
}

OpResult FlashAccess::SetSpiMode(int code) {
    if (code != spi_mode::kEnterUpgrade && code != spi_mode::kLeaveUpgrade)
        return SendModeCommand(transport_, Flags(), code);
    if (drives_.EnclosureCount == 0 || drives_.LockedEnclosure >= drives_.EnclosureCount)
        return Preconditions();  // says why, and fails
    if (Flags() & access::kBridgeCdb) return OpResult::Success();
    if (OpResult ready = Preconditions(); !ready) return ready;
    OpResult result = SendModeCommand(transport_, Flags(), code);
    transport_.CloseDevice();
    return result;
}

OpResult FlashAccess::CloseBracket(int code, const OpResult& before) {
    OpResult closed = SendModeCommand(transport_, Flags(), code);
    if (!closed && !before.ok) transport_.ReportFailure(before.failure);
    return closed;
}

OpResult FlashAccess::Run(Op op, uint32_t address, uint32_t length, std::span<uint8_t> in,
                          std::span<const uint8_t> out) {
    const uint32_t unit = op == Op::Read ? kFlashReadUnit : op == Op::Program ? kFlashProgramUnit : kFlashEraseUnit;
    if (op == Op::Read && in.size() < RoundUp(length, unit)) return OpResult::Failure("Buffer too small");
    if (op == Op::Program && out.size() < RoundUp(length, unit)) return OpResult::Failure("Buffer too small");
    if (OpResult ready = Preconditions(); !ready) return ready;
    const uint32_t flags = Flags();
    if (OpResult entered = SendModeCommand(transport_, flags, spi_mode::kEnterFlashAccess); !entered) {
        transport_.CloseDevice();
        return entered;
    }
    // Reads never open the boot area; programs and erases starting in it do.
    const bool boot = op != Op::Read && address < kBootAreaEnd;
    if (OpResult unlock = boot ? SendModeCommand(transport_, flags, spi_mode::kUnlockBootArea) : OpResult::Success();
        !unlock) {
        (void)CloseBracket(spi_mode::kLeaveFlashAccess, unlock);  // the unlock's failure is the one told
        transport_.CloseDevice();
        return unlock;
    }
    OpResult result = OpResult::Success();
    for (uint32_t offset = 0; offset < length; offset += unit) {
        const uint32_t a = address + offset;
        if (letEventsRun_) letEventsRun_();
        OpResult step = OpResult::Success();
        switch (op) {
            case Op::Read: step = ReadFlashBlock(transport_, flags, a, in.subspan(offset, unit)); break;
            case Op::Program: step = ProgramFlashPage(transport_, flags, a, out.subspan(offset, unit)); break;
            case Op::Erase: step = EraseFlashSector(transport_, flags, a); break;
        }
        if (!step) {
            result = std::move(step);
            break;
        }
        // One step per 512 bytes read or programmed, per 4 KiB erased.
        if (op != Op::Program || offset % 512 == 256) flags_.ProgressCounter.fetch_add(1);
    }
    // A closing bracket's failure counts only when the blocks succeeded.
    if (boot) {
        OpResult locked = CloseBracket(spi_mode::kLockBootArea, result);
        if (!locked && result.ok) result = std::move(locked);
    }
    OpResult left = CloseBracket(spi_mode::kLeaveFlashAccess, result);
    if (!left && result.ok) result = std::move(left);
    transport_.CloseDevice();
    return result;
}

OpResult FlashAccess::SpiRead(uint32_t address, uint32_t length, std::span<uint8_t> buffer) {
    return Run(Op::Read, address, length, buffer, {});
}

OpResult FlashAccess::SpiProgram(uint32_t address, uint32_t length, std::span<const uint8_t> data) {
    return Run(Op::Program, address, length, {}, data);
}

OpResult FlashAccess::SpiErase(uint32_t address, uint32_t length) { return Run(Op::Erase, address, length, {}, {}); }

}  // namespace kestrel
