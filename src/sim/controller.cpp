#include "sim/controller.h"

#include <algorithm>
#include <cstring>

#include "wire/command_sector.h"
#include "wire/status_sector.h"
#include "wire/byte_order.h"
#include "sim/status_fields.h"

namespace kestrel::sim {

namespace st = kestrel::status;

namespace {

constexpr uint32_t kLastRecord = kFlashBytes - kRecordBytes;
constexpr uint32_t kRecordOffsetField = 16;
constexpr size_t kRecordChecksum = 254;
constexpr uint64_t kDefaultCapacity = 1953525168;

}  // namespace

uint16_t RecordChecksum(const uint8_t* record) {
    uint16_t sum = 0;
    for (size_t i = 0; i < kRecordChecksum; ++i) sum = static_cast<uint16_t>(sum + record[i]);
    return sum;
}

std::vector<uint8_t> MakeDefaultFlashImage() {
    std::vector<uint8_t> image(kFlashBytes, 0xFF);
    const char magic[] = {'F', 'I', 'P', 'S'};
    std::copy(std::begin(magic), std::end(magic), image.begin());
    // Boot loader body and one sub-code block: any non-erased bytes will do.
    for (uint32_t i = 4; i < 0x4000; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    image[kRecordOffsetField] = 0x00;  // 24-bit record offset 0x078000, little-endian
    image[kRecordOffsetField + 1] = 0x80;
    image[kRecordOffsetField + 2] = 0x07;
    for (uint32_t i = 0; i < 0x6000; ++i) image[kBootAreaEnd + i] = static_cast<uint8_t>(i * 13 + 1);

    uint8_t* record = image.data() + kRecordArea;
    std::fill_n(record, kRecordBytes, uint8_t{0});
    record[0] = 0x5A;
    record[1] = 0xA0;  // ConfigVersion
    for (int k = 0; k < 10; ++k) record[2 + 5 * k] = 0xFF;  // empty sub-code entries
    record[2] = 0x01;  // entry 0: type 1 at 0x00C000 (little-endian offset)
    record[3] = 0x00, record[4] = 0xC0, record[5] = 0x00;
    record[6] = 0x00;
    record[52] = 0x00, record[53] = 0x80, record[54] = 0x01;  // code area end 0x018000
    record[56] = 0x03;                                        // buzzer on, auto scan on
    record[57] = 0x01;
    record[107] = 0x85;
    record[108] = 0x11;
    bytes::PutLe16(record + 109, 1000);
    record[111] = 60;
    record[113] = 0x02;
    const char maker[] = "VOLTRA";
    std::copy(maker, maker + 7, record + 114);
    bytes::PutLe16(record + kRecordChecksum, RecordChecksum(record));
    return image;
}

Controller::Controller(const EnclosureConfig& config)
    : name_(config.name), paths_(config.paths), plugged_(config.plugged),
      flash_(config.flashImage.size() == kFlashBytes ? config.flashImage : MakeDefaultFlashImage()) {
    identify_ = MakeIdentifyBlock(config.identity, true);
    // The status begins with the controller's copy of its configuration record.
    std::copy_n(flash_.begin() + kRecordArea, kRecordBytes, status_.begin());
    for (const FieldSetting& setting : config.status) SetField(setting);
    StatusChanged();
}

RequestKind Controller::ClassifyCommand(const Block512& sector) {
    switch (sector[command::kClass]) {
        case command::kFlashRead: return RequestKind::FlashRead;
        case command::kFlashErase: return RequestKind::FlashErase;
        case command::kFlashProgram: return RequestKind::FlashProgram;
        case command::kFlashAccessMode:
        case command::kBootAreaMode:
        case command::kUpgradeMode: return RequestKind::Mode;
        default: return RequestKind::Command;
    }
}

bool Controller::RunCommandSector(const Block512& s) {
    if (!IsValidCommandSector(s)) return false;
    const uint8_t sub = s[command::kSubCode];
    const uint32_t address = bytes::GetBe24(s.data() + command::kAddress);
    auto onOff = [&](bool& flag) {
        if (sub > 1) return false;
        flag = sub == 1;
        return true;
    };
    switch (s[command::kClass]) {
        case command::kFlashRead:
            return sub == command::kChipRead && StageFlashRead(address);
        case command::kFlashErase:
            return sub == command::kChipSectorErase && Erase(address, true);
        case command::kFlashProgram:
            return sub == command::kChipPageProgram && s[command::kWriteMark] == command::kWriteMarkValue &&
                   Program(address, s.data() + command::kData, true);
        case command::kFlashAccessMode: return onOff(modes_.flashAccess);
        case command::kBootAreaMode: return onOff(modes_.bootUnlocked);
        case command::kUpgradeMode: return onOff(modes_.upgrade);
        case command::kConfiguration: {
            if (sub != 0 || s[4] != 0 || s[5] > 1) return false;
            if (s[5] == 1) {
                status_[st::kOptionFlags] |= st::kScheduledBackup;
                status_[st::kBackupPeriod] = s[6];
            } else {
                status_[st::kOptionFlags] &= static_cast<uint8_t>(~st::kScheduledBackup);
            }
            StatusChanged();
            return true;
        }
        case command::kDiskCommand: {
            const uint8_t arg = s[4];
            switch (sub) {
                case 1:
                case 2: return true;  // member disk identification
                case 3:
                    // Saving the configuration after the clears makes a new array.
                    if (arg != 1) return false;
                    FreshArray();
                    return true;
                case 4: return arg == 0x00 || arg == 0x10 || arg == 0x20 || arg == 0x30;
                case 6:
                    if (arg == 1) return true;
                    if (arg == 2) {
                        StartActivity(1, false, 10);  // HDD2 to HDD1
                        return true;
                    }
                    return false;
                default: return false;
            }
        }
        default: return false;
    }
}

bool Controller::RunVendorAta(const passthrough::AtaTaskfile& t) {
    switch (t.features) {
        case 0x01: return StageFlashRead(uint32_t{t.lbaLow} | uint32_t{t.lbaMid} << 8 | uint32_t{t.lbaHigh} << 16);
        case 0x02: modes_.flashAccess = false; return true;
        case 0x03: modes_.flashAccess = true; return true;
        case 0x04: modes_.bootUnlocked = true; return true;
        case 0x05: modes_.bootUnlocked = false; return true;
        case 0x10: modes_.upgrade = false; return true;
        case 0x11: modes_.upgrade = true; return true;
        default: return false;
    }
}

bool Controller::StageFlashRead(uint32_t address) {
    if (!modes_.flashAccess || address > kFlashBytes - flashResult_.size()) return false;
    std::copy_n(flash_.begin() + address, flashResult_.size(), flashResult_.begin());
    return true;
}

bool Controller::Program(uint32_t address, const uint8_t* data, bool gated) {
    if (address % kRecordBytes != 0 || address > kFlashBytes - kRecordBytes) return false;
    if (gated && (!modes_.flashAccess || (address < kBootAreaEnd && !modes_.bootUnlocked))) return false;
    for (uint32_t i = 0; i < kRecordBytes; ++i) flash_[address + i] &= data[i];  // NOR: bits only clear
    if (address >= kRecordArea) currentRecord_.reset();
    return true;
}

bool Controller::Erase(uint32_t address, bool gated) {
    if (address >= kFlashBytes) return false;
    const uint32_t sector = address & ~(kSectorBytes - 1);
    if (gated && (!modes_.flashAccess || (sector < kBootAreaEnd && !modes_.bootUnlocked))) return false;
    std::fill_n(flash_.begin() + sector, kSectorBytes, uint8_t{0xFF});
    if (sector + kSectorBytes > kRecordArea) currentRecord_.reset();
    return true;
}

bool Controller::BridgeRead(uint32_t address, std::span<uint8_t> out, bool probe) {
    if (address >= kFlashBytes || out.size() < 512) return false;
    if (probe && address == kRecordArea) PublishRecord();
    for (size_t i = 0; i < 512; ++i) out[i] = address + i < kFlashBytes ? flash_[address + i] : 0xFF;
    if (!probe && IsStatusRecord(address))
        std::copy(status_.begin() + kRecordBytes, status_.end(), out.begin() + kRecordBytes);
    return true;
}

bool Controller::BridgeProgram(uint32_t address, std::span<const uint8_t> data) {
    return data.size() >= kRecordBytes && Program(address, data.data(), false);
}

bool Controller::BridgeErase(uint32_t address) { return Erase(address, false); }

void Controller::PublishRecord() {
    if (modes_.flashAccess || modes_.upgrade) return;  // the host owns the flash now
    if (currentRecord_ && std::equal(status_.begin(), status_.begin() + kRecordBytes, flash_.begin() + *currentRecord_))
        return;
    uint32_t at = kRecordArea;
    while (at <= kLastRecord && flash_[at] == 0xFF) at += kRecordBytes;
    while (at <= kLastRecord && flash_[at] != 0xFF) at += kRecordBytes;
    if (at > kLastRecord) {
        for (uint32_t sector = kRecordArea; sector < kFlashBytes; sector += kSectorBytes) Erase(sector, false);
        at = kRecordArea;
    }
    Program(at, status_.data(), false);
    currentRecord_ = at;
}

void Controller::StatusChanged() {
    bytes::PutLe16(status_.data() + kRecordChecksum, RecordChecksum(status_.data()));
}

void Controller::SetNibble(int disk, uint8_t value) {
    uint8_t& state = status_[st::kDiskState];
    state = disk == 1 ? static_cast<uint8_t>((state & 0xF0) | value) : static_cast<uint8_t>((state & 0x0F) | value << 4);
}

void Controller::StartActivity(int disk, bool scan, unsigned step) {
    activity_ = {true, scan, disk, step};
    uint8_t& flags = status_[st::kActivityFlags];
    flags &= static_cast<uint8_t>(~(st::kTargetHdd1 | st::kTargetHdd2 | st::kMediaScan));
    flags |= disk == 1 ? st::kTargetHdd1 : st::kTargetHdd2;
    if (scan) flags |= st::kMediaScan;
    status_[st::kProgress] = 0;
    StatusChanged();
}

void Controller::RecordCommand(const Block512& sector) {
    if (commands_.size() >= kCommandLogLimit) commands_.erase(commands_.begin());
    commands_.push_back(sector);
}

void Controller::FreshArray() {
    activity_.running = false;
    for (int disk = 1; disk <= 2; ++disk) {
        const uint8_t nibble = st::DiskNibble(status_[st::kDiskState], disk - 1);
        if (!(nibble & st::kAbsent) && nibble != 0) SetNibble(disk, st::kPresent);
    }
    status_[st::kActivityFlags] = 0;
    status_[st::kProgress] = 0;
    status_[st::kBadSectorCount] = 0;
    std::fill_n(status_.begin() + st::kBadSectorList, 40, uint8_t{0});
    StatusChanged();
}

void Controller::CountStatusRead() {
    ++statusReads_;
    if (!activity_.running) return;
    uint8_t& progress = status_[st::kProgress];
    if (progress >= 99) {
        activity_.running = false;
        status_[st::kActivityFlags] &= static_cast<uint8_t>(~(st::kTargetHdd1 | st::kTargetHdd2 | st::kMediaScan));
        progress = 0;
        if (!activity_.scan) SetNibble(activity_.disk, st::kPresent);
    } else {
        progress = static_cast<uint8_t>(std::min<unsigned>(progress + activity_.step, 99));
    }
    StatusChanged();
}

void Controller::SetFailure(RequestKind kind, int times, int after) {
    failures_[static_cast<size_t>(kind)] = {times == 0 ? 0 : after, times};
}

bool Controller::ConsumeFailure(RequestKind kind) {
    Failure& f = failures_[static_cast<size_t>(kind)];
    if (f.left == 0) return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (f.left > 0) --f.left;
    return true;
}

bool Controller::SetField(const FieldSetting& setting) {
    const StatusField* field = FindStatusField(setting.name);
    if (!field || !CheckFieldValue(*field, setting.value).empty()) return false;
    WriteField(status_, *field, setting.value);
    StatusChanged();
    return true;
}

void Controller::Apply(const Step& step) {
    const int disk = step.disk == 2 ? 2 : 1;
    const size_t model = disk == 1 ? st::kDisk1Model : st::kDisk2Model;
    const size_t serial = disk == 1 ? st::kDisk1Serial : st::kDisk2Serial;
    const size_t capacity = disk == 1 ? st::kDisk1Capacity : st::kDisk2Capacity;
    const size_t otherCapacity = disk == 1 ? st::kDisk2Capacity : st::kDisk1Capacity;
    const uint8_t speedMask = disk == 1 ? 0x0F : 0xF0;
    switch (step.action) {
        case Action::Set:
            for (const FieldSetting& f : step.fields) SetField(f);
            break;
        case Action::PullDisk:
            SetNibble(disk, st::kAbsent);
            std::fill_n(status_.begin() + static_cast<long>(model), st::kModelLength, uint8_t{0});
            std::fill_n(status_.begin() + static_cast<long>(serial), st::kSerialLength, uint8_t{0});
            std::fill_n(status_.begin() + static_cast<long>(capacity), 5, uint8_t{0});
            status_[st::kSataSpeed] &= static_cast<uint8_t>(~speedMask);
            if (activity_.running && activity_.disk == disk) {
                activity_.running = false;
                status_[st::kActivityFlags] &= static_cast<uint8_t>(~(st::kTargetHdd1 | st::kTargetHdd2 | st::kMediaScan));
            }
            break;
        case Action::InsertDisk: {
            SetNibble(disk, st::kInserted);
            PutAtaString(status_.data() + model, st::kModelLength, step.model.empty() ? "SIM REPLACEMENT DISK" : step.model);
            PutAtaString(status_.data() + serial, st::kSerialLength, step.serial.empty() ? "SIMNEW0001" : step.serial);
            uint64_t sectors = step.capacity;
            if (sectors == 0) sectors = st::Sectors40(status_, otherCapacity);
            if (sectors == 0) sectors = kDefaultCapacity;
            for (int i = 0; i < 5; ++i) status_[capacity + static_cast<size_t>(i)] = static_cast<uint8_t>(sectors >> (8 * i));
            status_[st::kSataSpeed] = static_cast<uint8_t>((status_[st::kSataSpeed] & ~speedMask) | (0x22 & speedMask));
            break;
        }
        case Action::FailDisk: SetNibble(disk, st::kFailed); break;
        case Action::StartRebuild: StartActivity(disk, false, step.percentStep); break;
        case Action::StartScan: StartActivity(disk, true, step.percentStep); break;
        case Action::BadSectors:
            for (uint32_t lba : step.lbas) {
                uint8_t& count = status_[st::kBadSectorCount];
                bytes::PutLe32(status_.data() + st::kBadSectorList + 4 * (count % 10), lba);
                count = static_cast<uint8_t>(count + 1);
            }
            status_[st::kActivityFlags] |= disk == 1 ? st::kBadSectorHdd1 : st::kBadSectorHdd2;
            break;
        case Action::FanAlarm:
            if (step.on) status_[st::kEnvFlags] |= st::kFanFailure;
            else status_[st::kEnvFlags] &= static_cast<uint8_t>(~st::kFanFailure);
            break;
        case Action::TemperatureAlarm:
            if (step.on) status_[st::kEnvFlags] |= st::kOverTemperature;
            else status_[st::kEnvFlags] &= static_cast<uint8_t>(~st::kOverTemperature);
            break;
        case Action::Unplug: plugged_ = false; break;
        case Action::Plug:
            if (!plugged_) modes_ = ControllerModes{};  // a power cycle leaves every mode
            plugged_ = true;
            break;
        case Action::Fail: SetFailure(step.request, step.times, step.after); break;
        case Action::UsbEvent:
        case Action::Quit: break;
    }
    StatusChanged();
}

void Controller::OverwriteFlash(uint32_t offset, std::span<const uint8_t> data) {
    if (offset >= kFlashBytes) return;
    const size_t n = std::min<size_t>(data.size(), kFlashBytes - offset);
    std::copy_n(data.begin(), n, flash_.begin() + offset);
    currentRecord_.reset();
}

}  // namespace kestrel::sim
