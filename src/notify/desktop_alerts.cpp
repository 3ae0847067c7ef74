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
    if (kind >= 1 && kind <= 4 && (settings_.EMailSend() & (1u << (kind - 1))))
        return "No alert mail: this alert is set to \"Don't send\".";
    if (MailNotSetUp()) return "No alert mail: mail is not set up (no recipient).";
    if (composed_ && composed_->kind == MailOutcome::Kind::Undelivered) return "No alert mail: " + composed_->reason + ".";
    // Queued: delivery is told when it happens.
    return "An alert mail goes to the recipients.";
}

void DesktopAlerts::ComposeAlert(int kind, int enclosureIndex, int memberDisk) {
    RaiseAlert(Alert{kind, enclosureIndex, memberDisk, {}, {}});
}

void DesktopAlerts::RaiseAlert(const Alert& alert) {
    composing_ = true;
    composed_.reset();
    mail_.RaiseAlert(alert);
    composing_ = false;
    const std::string heading = AlertAbout(alert.kind, alert.enclosureIndex, alert.memberDisk, alert.heading);
    if (heading.empty()) return;
    Send({heading, MailLine(alert.kind), Urgency::Critical});
    composed_.reset();
}

void DesktopAlerts::AlertMailOutcome(const MailOutcome& outcome) {
    if (composing_) {
        composed_ = outcome;  // the alert's own note says it
        return;
    }
    const std::string& what = outcome.about;
    switch (outcome.kind) {
        case MailOutcome::Kind::Queued: break;
        case MailOutcome::Kind::Delivered: Send({"Alert mail delivered.", what, Urgency::Normal}); break;
        case MailOutcome::Kind::Delayed:
            if (outcome.attempts == 1)
                Send({"Alert mail delayed.",
                      outcome.reason + ". It is sent again later (" + std::to_string(outcome.waiting) + " waiting): " + what,
                      Urgency::Normal});
            break;
        case MailOutcome::Kind::Undelivered:
            Send({"Alert mail not delivered.", outcome.reason + ": " + what, Urgency::Critical});
            break;
    }
}

std::string DesktopAlerts::MailsWaitingLine(size_t waiting) {
    if (waiting == 0) return {};
    return waiting == 1 ? "1 alert mail waits to be sent" : std::to_string(waiting) + " alert mails wait to be sent";
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
