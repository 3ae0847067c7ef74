#include "sim/simulated_pc.h"

#include <algorithm>
#include <thread>

#include "wire/command_sector.h"
#include "wire/byte_order.h"
#include "sim/status_fields.h"

namespace kestrel::sim {

namespace {

constexpr size_t kLogLimit = 100000;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint32_t kFirstMailbox = 3;
constexpr uint32_t kLastMailbox = 130;
constexpr uint32_t kStatusBlock = 33;
constexpr uint32_t kIdentifyBlock = 58;
constexpr uint32_t kResultBlock = 60;
constexpr uint8_t kAtaReady = 0x50;
constexpr uint8_t kAtaError = 0x51;
constexpr uint8_t kAtaAbort = 0x04;

// Fixed-format sense data: ILLEGAL REQUEST, invalid field in CDB.
constexpr std::array<uint8_t, 18> kIllegalRequest = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0};

std::array<uint8_t, 36> InquiryData(bool enclosure) {
    std::array<uint8_t, 36> data{};
    data[2] = 0x05;
    data[3] = 0x02;
    data[4] = 31;  // additional length
    const std::string_view vendor = enclosure ? "KESTREL " : "ATA     ";
    const std::string_view product = enclosure ? "RAID ENCLOSURE  " : "SIM DISK        ";
    std::copy(vendor.begin(), vendor.end(), data.begin() + 8);
    std::copy(product.begin(), product.end(), data.begin() + 16);
    std::copy_n("0001", 4, data.begin() + 32);
    return data;
}

}  // namespace

SimulatedPc::SimulatedPc(const Scenario& scenario)
    : host_(scenario.host), timing_(scenario.flashTiming), volumes_(scenario.volumes), timeline_(scenario.timeline), fired_(scenario.timeline.size()) {
    for (const EnclosureConfig& e : scenario.enclosures) controllers_.emplace_back(e);
    for (const DriveConfig& config : scenario.drives) {
        if (config.number < 0 || config.number >= DriveTable::kPhysicalDrives) continue;
        Drive d;
        for (size_t i = 0; i < scenario.enclosures.size(); ++i)
            if (scenario.enclosures[i].name == config.enclosure) d.enclosure = static_cast<int>(i);
        if (d.enclosure >= 0) d.paths = config.paths.value_or(scenario.enclosures[static_cast<size_t>(d.enclosure)].paths);
        IdentityConfig plain;
        plain.model = config.model;
        plain.firmwareRevision = "1.0";
        plain.serial = "SIMDISK" + std::to_string(config.number);
        d.identify = MakeIdentifyBlock(plain, false);
        drives_[static_cast<size_t>(config.number)] = d;
    }
}

void SimulatedPc::SetTimeScale(double scale) {
    std::lock_guard lock(mutex_);
    if (scale > 0) timeScale_ = scale;
}

double SimulatedPc::HoldMs(RequestKind kind) const {
    if (!timing_.on) return 0;
    switch (kind) {
        case RequestKind::FlashErase: return timing_.eraseMs * timeScale_;
        case RequestKind::FlashProgram: return timing_.programMs * timeScale_;
        case RequestKind::FlashRead: return timing_.readMs * timeScale_;
        case RequestKind::Command: return timing_.commandMs * timeScale_;
        default: return 0;
    }
}

void SimulatedPc::SetDeviceChangeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    changeHook_ = std::move(hook);
}

void SimulatedPc::SetQuitHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    quitHook_ = std::move(hook);
}

bool SimulatedPc::DriveVisible(int number) const {
    if (number < 0 || number >= DriveTable::kPhysicalDrives || !drives_[static_cast<size_t>(number)]) return false;
    const int e = drives_[static_cast<size_t>(number)]->enclosure;
    return e < 0 || controllers_[static_cast<size_t>(e)].Plugged();
}

const VolumeConfig* SimulatedPc::VisibleVolume(char letter) const {
    for (const VolumeConfig& v : volumes_)
        if (v.letter == letter) return !v.disk || DriveVisible(*v.disk) ? &v : nullptr;
    return nullptr;
}

Controller* SimulatedPc::ControllerOf(const std::string& name) {
    for (Controller& c : controllers_)
        if (c.Name() == name) return &c;
    return nullptr;
}

const Controller* SimulatedPc::ControllerOf(const std::string& name) const {
    for (const Controller& c : controllers_)
        if (c.Name() == name) return &c;
    return nullptr;
}

void SimulatedPc::Record(RequestKind kind, int drive, bool ok) {
    if (log_.size() >= kLogLimit) log_.pop_front();
    log_.push_back({kind, drive, std::chrono::steady_clock::now(), ok});
}

DeviceHandle SimulatedPc::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    unsigned number = 0;
    char letter = 0;
    OpenHandle target;
    bool ok = false;
    if (ParsePhysicalDrivePath(path, number)) {
        target.drive = number < DriveTable::kPhysicalDrives ? static_cast<int>(number) : -1;
        ok = DriveVisible(target.drive);
        if (ok) {
            const int e = drives_[number]->enclosure;
            if (e >= 0 && controllers_[static_cast<size_t>(e)].ConsumeFailure(RequestKind::Open)) ok = false;
        }
    } else if (ParseVolumePath(path, letter)) {
        const VolumeConfig* v = VisibleVolume(letter);
        target.letter = letter;
        target.drive = v && v->disk ? *v->disk : -1;
        ok = v && v->disk;  // a volume without a disk (an empty DVD drive) does not open
    }
    Record(RequestKind::Open, target.drive, ok);
    if (!ok) return kInvalidHandle;
    const DeviceHandle handle = nextHandle_++;
    handles_[handle] = target;
    return handle;
}

void SimulatedPc::Close(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
}

uint32_t SimulatedPc::LogicalDrives() {
    std::lock_guard lock(mutex_);
    uint32_t mask = 0;
    for (const VolumeConfig& v : volumes_)
        if (VisibleVolume(v.letter)) mask |= 1u << (v.letter - 'A');
    return mask;
}

unsigned SimulatedPc::DriveType(const std::string& rootPath) {
    std::lock_guard lock(mutex_);
    const char letter = RootPathLetter(rootPath);
    const VolumeConfig* v = letter ? VisibleVolume(letter) : nullptr;
    return v ? v->type : drive_type::kNoRootDir;
}

bool SimulatedPc::Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                          size_t& returned) {
    Hooks hooks;
    bool result = false;
    double holdMs = 0;
    {
        std::lock_guard lock(mutex_);
        returned = 0;
        const auto it = handles_.find(handle);
        if (it == handles_.end()) {
            Record(RequestKind::Other, -1, false);
            return false;
        }
        const OpenHandle h = it->second;
        const bool gone = h.letter ? !VisibleVolume(h.letter) : !DriveVisible(h.drive);
        Outcome outcome;
        if (gone) {
            outcome.kind = code == ioctl::kVolumeDiskExtents ? RequestKind::Extents : RequestKind::Other;
        } else if (code == ioctl::kScsiRescanBus) {
            outcome = {RequestKind::Rescan, !h.letter};
            result = outcome.ok;
        } else if (code == ioctl::kVolumeDiskExtents) {
            outcome.kind = RequestKind::Extents;
            const VolumeConfig* v = h.letter ? VisibleVolume(h.letter) : nullptr;
            if (v && v->disk && inLength == 0 &&
                passthrough::EncodeExtent({static_cast<uint32_t>(*v->disk), v->offset, v->length}, buffer)) {
                returned = passthrough::extents::kSize;
                outcome.ok = result = true;
            }
        } else if (code == ioctl::kScsiPassThroughDirect && !h.letter) {
            bool malformed = false;
            outcome = Scsi(h, buffer, inLength, malformed, hooks);
            // A device that refuses a command still completes the request
            // with a check condition; only a malformed block fails the call.
            result = !malformed;
            if (result) returned = std::min(buffer.size(), passthrough::scsi::kBlockSize);
        } else if (code == ioctl::kIdePassThrough && !h.letter) {
            outcome = Ide(h, buffer, inLength, returned);
            result = outcome.ok;
        }
        Record(outcome.kind, h.drive, outcome.ok);
        if (outcome.ok) holdMs = HoldMs(outcome.kind);
    }
    // The chip is busy; other drives and threads go on meanwhile.
    if (holdMs > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(holdMs));
    RunHooks(hooks);
    return result;
}

SimulatedPc::Outcome SimulatedPc::Scsi(const OpenHandle& h, std::span<uint8_t> buffer, size_t inLength,
                                       bool& malformed, Hooks& hooks) {
    Outcome out;
    const auto request = passthrough::DecodeScsi(buffer, inLength);
    if (!request) {
        malformed = true;
        return out;
    }
    const passthrough::ScsiRequest& r = *request;
    Drive& d = *drives_[static_cast<size_t>(h.drive)];
    Controller* c = d.enclosure >= 0 ? &controllers_[static_cast<size_t>(d.enclosure)] : nullptr;
    const uint8_t opcode = r.cdb[0];
    uint32_t transferred = 0;
    auto failed = [&](RequestKind kind) { return c && c->ConsumeFailure(kind); };

    if ((opcode == 0x28 || opcode == 0x2A) && r.cdbLength == 10) {
        const bool write = opcode == 0x2A;
        const uint32_t lba = bytes::GetBe32(r.cdb.data() + 2);
        const unsigned count = r.cdb[8];
        out.kind = write ? RequestKind::Write : RequestKind::Read;
        const bool shapeOk = count != 0 && r.transferLength == count * 512u && r.DataIn() != write &&
                             r.direction != passthrough::scsi::kDirectionNone;
        if (!shapeOk) {
            // Refused below with a check condition.
        } else if (!c) {
            if (!write) std::fill_n(r.data, r.transferLength, uint8_t{0});
            out.ok = true;
        } else if (write && lba >= kFirstMailbox && lba <= kLastMailbox) {
            Block512 sector{};
            std::copy_n(r.data, sector.size(), sector.begin());
            out.kind = Controller::ClassifyCommand(sector);
            if (out.kind == RequestKind::Command) c->RecordCommand(sector);
            out.ok = count == 1 && !failed(out.kind) && c->RunCommandSector(sector);
        } else if (!write && count == 1 && lba == kStatusBlock) {
            out.kind = RequestKind::Status;
            if (!failed(out.kind)) {
                std::copy(c->Status().begin(), c->Status().end(), r.data);
                out.ok = true;
                StatusServed(d.enclosure, hooks);
            }
        } else if (!write && count == 1 && lba == kIdentifyBlock && d.paths.mailbox) {
            out.kind = RequestKind::Identify;
            if (!failed(out.kind)) std::copy(c->Identify().begin(), c->Identify().end(), r.data), out.ok = true;
        } else if (!write && count == 1 && lba == kResultBlock) {
            out.kind = RequestKind::FlashResult;
            if (!failed(out.kind)) std::copy(c->FlashResult().begin(), c->FlashResult().end(), r.data), out.ok = true;
        } else {
            // Ordinary data blocks of the array read as zeros; writes are kept nowhere.
            out.ok = !failed(out.kind);
            if (out.ok && !write) std::fill_n(r.data, r.transferLength, uint8_t{0});
        }
        if (out.ok) transferred = r.transferLength;
    } else if (opcode == 0x12) {
        out.kind = RequestKind::Inquiry;
        const uint32_t allocation = r.cdb[4];
        if (r.DataIn() && r.transferLength == allocation && allocation >= 5 && !failed(out.kind)) {
            const auto data = InquiryData(c != nullptr);
            std::fill_n(r.data, allocation, uint8_t{0});
            std::copy_n(data.begin(), std::min<size_t>(allocation, data.size()), r.data);
            transferred = allocation;
            out.ok = true;
        }
    } else if (opcode == 0xFE) {
        out.kind = RequestKind::Other;
        if (c && d.paths.bridge && r.cdbLength == 10) {
            out = Bridge(d, *c, r, transferred);
            if (out.ok && out.kind == RequestKind::Status) StatusServed(d.enclosure, hooks);
        }
    }
    if (out.ok) passthrough::CompleteScsi(buffer, 0, transferred);
    else passthrough::CompleteScsi(buffer, kCheckCondition, 0, kIllegalRequest);
    return out;
}

SimulatedPc::Outcome SimulatedPc::Bridge(const Drive& d, Controller& c, const passthrough::ScsiRequest& r,
                                         uint32_t& transferred) {
    Outcome out;
    const uint8_t shift = r.cdb[1] == 0xFE ? 0 : 1;
    if ((shift == 0 && !d.paths.shift0) || (shift == 1 && !d.paths.shift1)) return out;
    if (shift == 1 && r.cdb[9] != 0) return out;
    const uint8_t* tail = r.cdb.data() + 2 - shift;
    const uint8_t opcode = tail[0];
    const uint32_t address = bytes::GetBe24(tail + 2);
    const bool zeros = tail[1] == 0 && tail[5] == 0 && tail[7] == 0;
    const bool in = r.DataIn();
    auto shaped = [&](bool dataIn, uint32_t length) { return zeros && in == dataIn && r.transferLength == length; };

    switch (opcode) {
        case 0x78:
            out.kind = RequestKind::BridgeFixed;
            if (shaped(true, 20) && address == 0 && tail[6] == 0 && !c.ConsumeFailure(out.kind)) {
                std::fill_n(r.data, 20, uint8_t{0});
                r.data[0] = 'P';
                r.data[1] = 0x8B;
                out.ok = true;
            }
            break;
        case 0x8B:
            out.kind = RequestKind::Identify;
            if (d.paths.bridgeIdentify && shaped(true, 512) && address == 0 && tail[6] == 0 &&
                !c.ConsumeFailure(out.kind)) {
                std::copy(c.Identify().begin(), c.Identify().end(), r.data);
                out.ok = true;
            }
            break;
        case 0x85: {
            const bool probe = tail[6] == 1;
            out.kind = probe ? RequestKind::Probe
                       : c.IsStatusRecord(address) ? RequestKind::Status
                                                   : RequestKind::FlashRead;
            if (!shaped(true, 512) || tail[6] > 1 || c.ConsumeFailure(out.kind)) break;
            out.ok = c.BridgeRead(address, std::span<uint8_t>(r.data, 512), probe);
            break;
        }
        case 0x89:
            out.kind = RequestKind::FlashProgram;
            out.ok = shaped(false, 256) && tail[6] == 0 && !c.ConsumeFailure(out.kind) &&
                     c.BridgeProgram(address, std::span<const uint8_t>(r.data, 256));
            break;
        case 0x81:
            out.kind = RequestKind::FlashErase;
            if (shaped(true, 8) && tail[6] == 0 && !c.ConsumeFailure(out.kind) && c.BridgeErase(address)) {
                std::fill_n(r.data, 8, uint8_t{0});
                out.ok = true;
            }
            break;
        default: break;
    }
    if (out.ok) transferred = r.transferLength;
    return out;
}

SimulatedPc::Outcome SimulatedPc::Ide(const OpenHandle& h, std::span<uint8_t> buffer, size_t inLength,
                                      size_t& returned) {
    Outcome out;
    const auto request = passthrough::DecodeIde(buffer, inLength);
    if (!request) return out;
    const Drive& d = *drives_[static_cast<size_t>(h.drive)];
    Controller* c = d.enclosure >= 0 ? &controllers_[static_cast<size_t>(d.enclosure)] : nullptr;
    // A drive behind a USB bridge does not take ATA taskfiles at all.
    if (c && !d.paths.ata) return out;
    const passthrough::AtaTaskfile& taskfile = request->taskfile;
    const uint8_t command = taskfile.command;
    if (command == 0xEC) {
        out.kind = RequestKind::Identify;
        if (request->dataSize == 512 && !(c && c->ConsumeFailure(out.kind))) {
            const Block512& block = c ? c->Identify() : d.identify;
            std::copy(block.begin(), block.end(), request->data);
            out.ok = true;
        }
    } else if (command == 0x88 && c) {
        out.kind = taskfile.features == 0x01 ? RequestKind::FlashRead : RequestKind::Mode;
        out.ok = request->dataSize == 0 && !c->ConsumeFailure(out.kind) && c->RunVendorAta(taskfile);
    }
    // The taskfile comes back either way: status, and the error register on failure.
    passthrough::AtaReturned registers;
    registers.count = taskfile.count;
    registers.lbaLow = taskfile.lbaLow;
    registers.lbaMid = taskfile.lbaMid;
    registers.lbaHigh = taskfile.lbaHigh;
    registers.device = taskfile.device;
    registers.error = out.ok ? 0 : kAtaAbort;
    registers.status = out.ok ? kAtaReady : kAtaError;
    passthrough::PutReturned(registers, buffer);
    returned = passthrough::ide::kData + (out.ok ? request->dataSize : 0);
    return out;
}

void SimulatedPc::StatusServed(int enclosure, Hooks& hooks) {
    Controller& c = controllers_[static_cast<size_t>(enclosure)];
    c.CountStatusRead();
    for (size_t i = 0; i < timeline_.size(); ++i) {
        const Step& step = timeline_[i];
        if (fired_[i] || !step.afterStatusReads || step.enclosure != c.Name()) continue;
        if (*step.afterStatusReads > c.StatusReads()) continue;
        fired_[i] = true;
        Fire(step, hooks);
    }
}

void SimulatedPc::Fire(const Step& step, Hooks& hooks) {
    switch (step.action) {
        case Action::Quit: hooks.quit = true; return;
        case Action::UsbEvent: ++hooks.changes; return;
        case Action::Fail:
            if (step.enclosure.empty()) {
                for (Controller& c : controllers_) c.SetFailure(step.request, step.times, step.after);
                return;
            }
            break;
        case Action::Unplug:
        case Action::Plug: ++hooks.changes; break;
        default: break;
    }
    if (Controller* c = ControllerOf(step.enclosure)) c->Apply(step);
}

void SimulatedPc::RunHooks(const Hooks& hooks) {
    std::function<void()> change, quit;
    {
        std::lock_guard lock(mutex_);
        if (hooks.changes) change = changeHook_;
        if (hooks.quit) quit = quitHook_;
    }
    for (int i = 0; change && i < hooks.changes; ++i) change();
    if (quit) quit();
}

void SimulatedPc::AdvanceTo(std::chrono::milliseconds scenarioTime) {
    Hooks hooks;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < timeline_.size(); ++i) {
            const Step& step = timeline_[i];
            if (fired_[i] || !step.atMs || static_cast<int64_t>(*step.atMs) > scenarioTime.count()) continue;
            fired_[i] = true;
            Fire(step, hooks);
        }
    }
    RunHooks(hooks);
}

void SimulatedPc::RunStep(const Step& step) {
    Hooks hooks;
    {
        std::lock_guard lock(mutex_);
        Fire(step, hooks);
    }
    RunHooks(hooks);
}

bool SimulatedPc::TimelineDone() const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < timeline_.size(); ++i)
        if (timeline_[i].atMs && !fired_[i]) return false;
    return true;
}

std::vector<RequestRecord> SimulatedPc::Requests() const {
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

void SimulatedPc::ClearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::optional<Block512> SimulatedPc::StatusOf(const std::string& enclosure) const {
    std::lock_guard lock(mutex_);
    const Controller* c = ControllerOf(enclosure);
    return c ? std::optional<Block512>(c->Status()) : std::nullopt;
}

std::optional<ControllerModes> SimulatedPc::ModesOf(const std::string& enclosure) const {
    std::lock_guard lock(mutex_);
    const Controller* c = ControllerOf(enclosure);
    return c ? std::optional<ControllerModes>(c->Modes()) : std::nullopt;
}

std::optional<std::vector<uint8_t>> SimulatedPc::FlashOf(const std::string& enclosure) const {
    std::lock_guard lock(mutex_);
    const Controller* c = ControllerOf(enclosure);
    return c ? std::optional<std::vector<uint8_t>>(c->Flash()) : std::nullopt;
}

std::vector<Block512> SimulatedPc::CommandsOf(const std::string& enclosure) const {
    std::lock_guard lock(mutex_);
    const Controller* c = ControllerOf(enclosure);
    return c ? c->Commands() : std::vector<Block512>{};
}

unsigned SimulatedPc::StatusReadsOf(const std::string& enclosure) const {
    std::lock_guard lock(mutex_);
    const Controller* c = ControllerOf(enclosure);
    return c ? c->StatusReads() : 0;
}

bool SimulatedPc::OverwriteFlash(const std::string& enclosure, uint32_t offset, std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    Controller* c = ControllerOf(enclosure);
    if (!c) return false;
    c->OverwriteFlash(offset, data);
    return true;
}

}  // namespace kestrel::sim
