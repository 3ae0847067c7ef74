#include "notify/alert_mail.h"

#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace st = status;

std::string AlertHeading(int kind, int enclosureIndex, int memberDisk) {
    const std::string n = std::to_string(enclosureIndex + 1);
    switch (kind) {
        case 1: return "Device" + n + " P" + std::to_string(memberDisk) + " Hard Disk Drive fail.";
        case 2: return "Device" + n + " RAID system fail.";
        case 3: return "Device" + n + " over heat.";
        case 4: return "Device" + n + " fan fail.";
        default: return {};
    }
}

AlertComposer::AlertComposer(const DriveTable& drives, const MailSettingsStore& settings, MailFlags& flags,
                             std::string baseTitle, std::function<std::vector<std::string>()> systemInfo)
    : drives_(drives),
      settings_(settings),
      flags_(flags),
      baseTitle_(std::move(baseTitle)),
      systemInfo_(std::move(systemInfo)) {}

void AlertComposer::ComposeAlert(int kind, int enclosureIndex, int memberDisk) {
    deviceInfo_.clear();
    if (kind < 1 || kind > 4) return;
    if (settings_.EMailSend() & (1u << (kind - 1))) return;  // muted

    if (enclosureIndex >= 0 && static_cast<unsigned>(enclosureIndex) < drives_.EnclosureCount &&
        enclosureIndex < DriveTable::kMaxEnclosures) {
        const std::string n = std::to_string(enclosureIndex + 1);
        deviceInfo_.push_back(AlertHeading(kind, enclosureIndex, memberDisk));
        const unsigned slot = static_cast<unsigned>(enclosureIndex);
        const Block512& identify = drives_.IdentifyOfSlot(slot);
        const Block512& s = drives_.StatusOfSlot(slot);
        deviceInfo_.push_back("Device" + n + " information :");
        deviceInfo_.push_back("Model# " + DeviceText(st::TrimModel(st::IdentifyModel(identify))));
        deviceInfo_.push_back(st::ModeName(s[st::kRaidMode]) + ", F/W Rev. " + DeviceText(st::IdentifyRevision(identify)) + "." +
                              st::FirmwareText(s));
        deviceInfo_.push_back("Configured Capacity : " + st::CapacityText(st::Sectors40(s, st::kConfiguredCapacity)));
        AppendMemberLines(s, 0, kind == 1);
        AppendMemberLines(s, 1, kind == 1);
    }
    pendingKind_ = kind;
    flags_.Set(mail_flag::kSendPending);
}

void AlertComposer::AppendMemberLines(const Block512& s, int disk, bool details) {
    const std::string hdd = disk == 0 ? "HDD1" : "HDD2";
    const uint8_t nibble = st::DiskNibble(s[st::kDiskState], disk);
    const unsigned speed = disk == 0 ? (s[st::kSataSpeed] & 0x0F) : (s[st::kSataSpeed] >> 4);
    if (nibble & st::kAbsent)
        deviceInfo_.push_back("  " + hdd + " is absent. ");
    else if (nibble & st::kPresent)
        deviceInfo_.push_back("  " + hdd + " is present.(SATA" + st::SataSpeedLabel(speed) + ")");
    else if (nibble & st::kFailed)
        deviceInfo_.push_back("  " + hdd + " was failed, Capacity too small.");
    else if (nibble & st::kInserted)
        deviceInfo_.push_back(hdd + " was inserted.");
    if (!details && !(nibble & (st::kPresent | st::kFailed))) return;
    const size_t model = disk == 0 ? st::kDisk1Model : st::kDisk2Model;
    const size_t serial = disk == 0 ? st::kDisk1Serial : st::kDisk2Serial;
    const size_t capacity = disk == 0 ? st::kDisk1Capacity : st::kDisk2Capacity;
    deviceInfo_.push_back("    Model no.: " + DeviceText(st::TrimModel(st::AtaString(s, model, st::kModelLength))));
    deviceInfo_.push_back("    Serial no.: \"" + DeviceText(st::AtaString(s, serial, st::kSerialLength)) + "\"");
    deviceInfo_.push_back("    Capacity : " + st::CapacityText(st::Sectors40(s, capacity)));
}

AlertMail AlertComposer::BuildAlertMail() const {
    AlertMail mail;
    mail.body = deviceInfo_;
    if (systemInfo_) {
        const std::vector<std::string> info = systemInfo_();
        mail.body.insert(mail.body.end(), info.begin(), info.end());
    }
    const std::vector<std::string>& contents = settings_.ContentsList(pendingKind_);
    mail.body.insert(mail.body.end(), contents.begin(), contents.end());
    const std::vector<std::string>& subject = settings_.SubjectList(pendingKind_);
    mail.subject = "[" + baseTitle_ + " Message] " + (subject.empty() ? std::string() : subject.front());
    return mail;
}

}  // namespace kestrel
