#pragma once
// Desktop notifications through org.freedesktop.Notifications on the
// session bus. Never waits for the service: the call is asynchronous, and a
// missing bus or service makes the note undelivered.
#include <QObject>
#include <memory>

#include "platform/desktop_notifications.h"

namespace kestrel::linuxio {

class FreedesktopNotifications final : public DesktopNotifications {
public:
    explicit FreedesktopNotifications(std::string appName);
    void Notify(const DesktopNote& note, std::function<void()> undelivered) override;

private:
    std::string appName_;
    // Owns the pending calls: answers that arrive after this object is gone
    // are dropped.
    std::unique_ptr<QObject> calls_ = std::make_unique<QObject>();
};

// True when a session bus can be reached without starting one.
bool SessionBusConfigured();

}  // namespace kestrel::linuxio
