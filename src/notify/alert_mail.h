#pragma once
// Alert composition: the device report written when an alert is raised,
// queued as a mail of its own, and the subject and body built from it when
// the mail step serves that mail.
#include <functional>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "notify/alert_sink.h"
#include "notify/mail_flags.h"
#include "notify/mail_queue.h"
#include "notify/mail_settings_store.h"

namespace kestrel {

// What an alert is about in our own words: a disk alert's own heading
// counts the disks from 0 ("P1"), so it is told as the Status page and the
// log name the disk ("Device1 HDD2 was removed."); any other heading as it is.
std::string AlertAbout(int kind, int enclosureIndex, int memberDisk, const std::string& heading);

// The heading line of an alert ("Device1 P0 Hard Disk Drive fail."); empty
// for a kind that is none of the four.
std::string AlertHeading(int kind, int enclosureIndex, int memberDisk);

struct AlertMail {
    std::string subject;
    std::vector<std::string> body;
};

class AlertComposer final : public AlertSink {
public:
    // systemInfo: the five lines of the system information block.
    AlertComposer(const DriveTable& drives, const MailSettingsStore& settings, MailFlags& flags,
                  std::string baseTitle, std::function<std::vector<std::string>()> systemInfo);

    // The alert path's entry: writes the report and queues the mail (unless
    // its kind is set to "Don't send"); every alert is a mail of its own.
    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override;
    void RaiseAlert(const Alert& alert) override;
    // The mail of a queued alert, with the texts stored now for its kind.
    AlertMail BuildAlertMail(const QueuedMail& mail) const;
    // The mail of the alert composed last.
    AlertMail BuildAlertMail() const;

    MailQueue& Queue() { return queue_; }
    const MailQueue& Queue() const { return queue_; }
    const std::vector<std::string>& DeviceInfo() const { return deviceInfo_; }
    void ReleaseLists() { deviceInfo_ = {}; }
    int PendingKind() const { return pendingKind_; }

private:
    void AppendMemberLines(const EnclosureStatus& status, int disk, bool details);

    const DriveTable& drives_;
    const MailSettingsStore& settings_;
    MailFlags& flags_;
    std::string baseTitle_;
    std::function<std::vector<std::string>()> systemInfo_;
    std::vector<std::string> deviceInfo_;
    int pendingKind_ = 1;
    std::string pendingHeading_;
    MailQueue queue_;
};

}  // namespace kestrel
