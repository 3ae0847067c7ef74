#pragma once
// Tells the desktop what the alert mail tells its recipients, and more: every
// composed alert, whether or not mail is set up, muted or delivered; the end
// of a rebuild, a firmware upgrade and a test mail; an alert mail delivered,
// delayed or given up. One note per event: the callers raise each episode once.
// Where no notification service takes a note, it goes to the fallback (the
// tray's message).
#include <functional>
#include <memory>
#include <string>

#include <optional>

#include "notify/alert_sink.h"
#include "notify/mail_queue.h"
#include "notify/mail_settings_store.h"
#include "platform/desktop_notifications.h"

namespace kestrel {

class DesktopAlerts final : public AlertSink {
public:
    using Fallback = std::function<void(const DesktopNote&)>;
    // mail: the composer, which queues the alert mail as before.
    DesktopAlerts(AlertSink& mail, const MailSettingsStore& settings);

    // Either may be left unset (headless without a bus, tests).
    void SetNotifications(std::unique_ptr<DesktopNotifications> notifications) {
        notifications_ = std::move(notifications);
    }
    void SetFallback(Fallback fallback) { fallback_ = std::move(fallback); }

    // The alert path's one entry for every caller: the alert mail is
    // composed and queued, and the desktop told.
    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override;
    void RaiseAlert(const Alert& alert) override;
    void RebuildEnded(int slot, bool completed);
    void UpgradeEnded(int slot, bool verified, const std::string& detail);
    void TestMailEnded(bool delivered, const std::string& result);
    void AlertMailFailed(const std::string& reason);
    // What became of an alert mail: one note when it was delivered, when it
    // was first delayed and when it was given up.
    void AlertMailOutcome(const MailOutcome& outcome);
    // For the tray: "" or how many alert mails wait to be sent.
    static std::string MailsWaitingLine(size_t waiting);

    // True while alerts reach nobody by mail: no recipient is stored.
    bool MailNotSetUp() const;

private:
    void Send(DesktopNote note);
    std::string MailLine(int kind) const;

    AlertSink& mail_;
    // While the mail of an alert is composed: what became of it, which the
    // alert's own note tells.
    bool composing_ = false;
    std::optional<MailOutcome> composed_;
    const MailSettingsStore& settings_;
    Fallback fallback_;
    // Declared last: gone first, so no late answer reaches the rest.
    std::unique_ptr<DesktopNotifications> notifications_;
};

}  // namespace kestrel
