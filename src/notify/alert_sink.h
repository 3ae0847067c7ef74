#pragma once
// The one call that queues an alert mail. The event rules and the presence
// watch raise alerts through it; the mail subsystem implements it.
namespace kestrel {

enum class NotificationEvent : int { HddFail = 1, DeviceRemoved = 2, OverHeat = 3, FanFail = 4 };

class AlertSink {
public:
    virtual ~AlertSink() = default;
    // kind: a NotificationEvent value; memberDisk: 0 HDD1, 1 HDD2.
    virtual void ComposeAlert(int kind, int enclosureIndex, int memberDisk) = 0;
};

}  // namespace kestrel
