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
        const EnclosureStatus s = SlotStatus(drives_, slot);
        deviceInfo_.push_back("Device" + n + " information :");
        deviceInfo_.push_back("Model# " + DeviceText(st::TrimModel(st::IdentifyModel(identify))));
        deviceInfo_.push_back(s.modeName + ", F/W Rev. " + DeviceText(st::IdentifyRevision(identify)) + "." +
                              s.firmwareCode);
        deviceInfo_.push_back("Configured Capacity : " + st::CapacityText(s.configuredSectors));
        AppendMemberLines(s, 0, kind == 1);
        AppendMemberLines(s, 1, kind == 1);
    }
    pendingKind_ = kind;
    flags_.Set(mail_flag::kSendPending);
}

void AlertComposer::AppendMemberLines(const EnclosureStatus& s, int disk, bool details) {
    const std::string hdd = disk == 0 ? "HDD1" : "HDD2";
    const MemberStatus& m = s.disks[static_cast<size_t>(disk)];
    switch (m.condition) {
        case DiskCondition::Absent: deviceInfo_.push_back("  " + hdd + " is absent. "); break;
        case DiskCondition::Present:
            deviceInfo_.push_back("  " + hdd + " is present.(SATA" + st::SataSpeedLabel(m.speedCode) + ")");
            break;
        case DiskCondition::Failed: deviceInfo_.push_back("  " + hdd + " was failed, Capacity too small."); break;
        case DiskCondition::Inserted: deviceInfo_.push_back(hdd + " was inserted."); break;
        case DiskCondition::Empty: break;
    }
    if (!details && !m.PresentBit() && !m.FailedBit()) return;
    deviceInfo_.push_back("    Model no.: " + DeviceText(st::TrimModel(m.model)));
    deviceInfo_.push_back("    Serial no.: \"" + DeviceText(m.serial) + "\"");
    deviceInfo_.push_back("    Capacity : " + st::CapacityText(m.sectors));
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
