#include "notify/alert_mail.h"

#include "platform/smtp_client.h"
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

std::string AlertAbout(int kind, int enclosureIndex, int memberDisk, const std::string& heading) {
    if (kind == static_cast<int>(NotificationEvent::HddFail) &&
        (heading.empty() || heading == AlertHeading(kind, enclosureIndex, memberDisk)))
        return "Device" + std::to_string(enclosureIndex + 1) + " HDD" + std::to_string(memberDisk + 1) +
               " was removed.";
    return heading.empty() ? AlertHeading(kind, enclosureIndex, memberDisk) : heading;
}

AlertComposer::AlertComposer(const DriveTable& drives, const MailSettingsStore& settings, MailFlags& flags,
                             std::string baseTitle, std::function<std::vector<std::string>()> systemInfo)
    : drives_(drives),
      settings_(settings),
      flags_(flags),
      baseTitle_(std::move(baseTitle)),
      systemInfo_(std::move(systemInfo)) {}

void AlertComposer::ComposeAlert(int kind, int enclosureIndex, int memberDisk) {
    RaiseAlert(Alert{kind, enclosureIndex, memberDisk, {}, {}});
}

void AlertComposer::RaiseAlert(const Alert& alert) {
    deviceInfo_.clear();
    const int kind = alert.kind;
    const bool ownKind = kind >= 1 && kind <= 4;
    if (!ownKind && alert.heading.empty()) return;
    if (ownKind && (settings_.EMailSend() & (1u << (kind - 1)))) return;  // muted
    const std::string heading =
        alert.heading.empty() ? AlertHeading(kind, alert.enclosureIndex, alert.memberDisk) : alert.heading;

    const int enclosureIndex = alert.enclosureIndex;
    if (enclosureIndex >= 0 && static_cast<unsigned>(enclosureIndex) < drives_.EnclosureCount &&
        enclosureIndex < DriveTable::kMaxEnclosures) {
        const std::string n = std::to_string(enclosureIndex + 1);
        deviceInfo_.push_back(heading);
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
        // The heading counts the disks from 0; the enclosure and every other
        // text of ours from 1. Nobody should pull the good disk.
        if (kind == 1 && alert.heading.empty())
            deviceInfo_.push_back("P" + std::to_string(alert.memberDisk) + " is HDD" +
                                  std::to_string(alert.memberDisk + 1) + ".");
        deviceInfo_.insert(deviceInfo_.end(), alert.details.begin(), alert.details.end());
    }
    pendingKind_ = kind;
    pendingHeading_ = heading;

    // Mail that is not set up sends nothing, as it always did; the mail
    // step still hears of the request.
    if (!settings_.KeyPresent() ||
        (settings_.SettingsLoaded() && (settings_.ToAddrCount() == 0 || settings_.RecipientList().empty()))) {
        flags_.Set(mail_flag::kSendPending);
        return;
    }
    QueuedMail mail;
    mail.kind = kind;
    mail.enclosureIndex = enclosureIndex;
    mail.memberDisk = alert.memberDisk;
    mail.heading = heading;
    mail.composedAt = MailDateNow();
    mail.report = deviceInfo_;
    const MailQueue::AddResult added = queue_.Add(std::move(mail));
    MailOutcome outcome;
    outcome.heading = heading;
    outcome.about = AlertAbout(kind, enclosureIndex, alert.memberDisk, heading);
    outcome.waiting = queue_.Size();
    if (!added.queued) {
        outcome.kind = MailOutcome::Kind::Undelivered;
        outcome.reason = "The mail queue is full (" + std::to_string(MailQueue::kCapacity) +
                         " mails wait); this alert is not mailed";
    } else {
        outcome.kind = MailOutcome::Kind::Queued;
        // Queued all the same; only a crash before it is sent would lose it.
        if (!added.error.empty()) outcome.reason = "The mail waits in memory only: " + added.error;
        flags_.Set(mail_flag::kSendPending);
    }
    queue_.Tell(outcome);
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

AlertMail AlertComposer::BuildAlertMail(const QueuedMail& queued) const {
    AlertMail mail;
    mail.body = queued.report;
    if (systemInfo_) {
        const std::vector<std::string> info = systemInfo_();
        mail.body.insert(mail.body.end(), info.begin(), info.end());
    }
    static const std::vector<std::string> kNone;
    const bool ownKind = queued.kind >= 1 && queued.kind <= 4;
    const std::vector<std::string>& contents = ownKind ? settings_.ContentsList(queued.kind) : kNone;
    mail.body.insert(mail.body.end(), contents.begin(), contents.end());
    const std::vector<std::string>& subject = ownKind ? settings_.SubjectList(queued.kind) : kNone;
    // Without a stored subject the mail still says what happened where, in
    // our own words: a disk by the name the Status page gives it.
    const bool stored = !subject.empty() && subject.front().find_first_not_of(' ') != std::string::npos;
    mail.subject = "[" + baseTitle_ + " Message] " +
                   (stored ? subject.front()
                           : AlertAbout(queued.kind, queued.enclosureIndex, queued.memberDisk, queued.heading));
    return mail;
}

AlertMail AlertComposer::BuildAlertMail() const {
    QueuedMail last;
    last.kind = pendingKind_;
    last.heading = pendingHeading_;
    last.report = deviceInfo_;
    return BuildAlertMail(last);
}

}  // namespace kestrel
