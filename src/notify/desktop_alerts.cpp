#include "notify/desktop_alerts.h"

#include "notify/alert_mail.h"

namespace kestrel {

namespace {
using Urgency = DesktopNote::Urgency;
std::string Device(int slot) { return "Device" + std::to_string(slot + 1); }
}  // namespace

DesktopAlerts::DesktopAlerts(AlertSink& mail, const MailSettingsStore& settings) : mail_(mail), settings_(settings) {}

bool DesktopAlerts::MailNotSetUp() const { return settings_.ToAddrCount() == 0 || settings_.RecipientList().empty(); }

std::string DesktopAlerts::MailLine(int kind) const {
    if (settings_.EMailSend() & (1u << (kind - 1))) return "No alert mail: this alert is set to \"Don't send\".";
    if (MailNotSetUp()) return "No alert mail: mail is not set up (no recipient).";
    return "An alert mail goes to the recipients.";
}

void DesktopAlerts::ComposeAlert(int kind, int enclosureIndex, int memberDisk) {
    mail_.ComposeAlert(kind, enclosureIndex, memberDisk);
    const std::string heading = AlertHeading(kind, enclosureIndex, memberDisk);
    if (heading.empty()) return;
    Send({heading, MailLine(kind), Urgency::Critical});
}

void DesktopAlerts::RebuildEnded(int slot, bool completed) {
    if (completed) Send({Device(slot) + " rebuild finished.", "Both disks are present again.", Urgency::Normal});
    else Send({Device(slot) + " rebuild failed.", "The rebuild ended without both disks present.", Urgency::Critical});
}

void DesktopAlerts::UpgradeEnded(int slot, bool verified, const std::string& detail) {
    if (verified) Send({Device(slot) + " firmware upgrade finished.", detail, Urgency::Normal});
    else Send({Device(slot) + " firmware upgrade failed.", detail, Urgency::Critical});
}

void DesktopAlerts::TestMailEnded(bool delivered, const std::string& result) {
    Send({delivered ? "Test mail delivered." : "Test mail failed.", result, Urgency::Normal});
}

void DesktopAlerts::AlertMailFailed(const std::string& reason) {
    Send({"Alert mail not delivered.", reason, Urgency::Critical});
}

void DesktopAlerts::Send(DesktopNote note) {
    if (!notifications_) {
        if (fallback_) fallback_(note);
        return;
    }
    // The fallback may be replaced (or the window gone) by the time the
    // answer comes: it is looked up then, not copied now.
    notifications_->Notify(note, [this, note] {
        if (fallback_) fallback_(note);
    });
}

}  // namespace kestrel
