#pragma once
// Alert composition: the device report written when an alert is raised, and
// the subject and body built from it when the mail step serves the alert.
#include <functional>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "notify/alert_sink.h"
#include "notify/mail_flags.h"
#include "notify/mail_settings_store.h"

namespace kestrel {

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

    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override;
    AlertMail BuildAlertMail() const;

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
};

}  // namespace kestrel
