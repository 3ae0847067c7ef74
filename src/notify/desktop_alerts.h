#pragma once
// Tells the desktop what the alert mail tells its recipients, and more: every
// composed alert, whether or not mail is set up, muted or delivered; the end
// of a rebuild, a firmware upgrade and a test mail; an alert mail that could
// not be delivered. One note per event: the callers raise each episode once.
// Where no notification service takes a note, it goes to the fallback (the
// tray's message).
#include <functional>
#include <memory>
#include <string>

#include "notify/alert_sink.h"
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

    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override;
    void RebuildEnded(int slot, bool completed);
    void UpgradeEnded(int slot, bool verified, const std::string& detail);
    void TestMailEnded(bool delivered, const std::string& result);
    void AlertMailFailed(const std::string& reason);

    // True while alerts reach nobody by mail: no recipient is stored.
    bool MailNotSetUp() const;

private:
    void Send(DesktopNote note);
    std::string MailLine(int kind) const;

    AlertSink& mail_;
    const MailSettingsStore& settings_;
    Fallback fallback_;
    // Declared last: gone first, so no late answer reaches the rest.
    std::unique_ptr<DesktopNotifications> notifications_;
};

}  // namespace kestrel
