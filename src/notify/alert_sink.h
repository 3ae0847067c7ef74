#pragma once
// The one call that queues an alert mail. The event rules and the presence
// watch raise alerts through it; the mail subsystem implements it.
#include <string>
#include <vector>

namespace kestrel {

enum class NotificationEvent : int { HddFail = 1, DeviceRemoved = 2, OverHeat = 3, FanFail = 4 };

// An alert with everything its mail needs besides the enclosure's report.
struct Alert {
    int kind = 0;            // a NotificationEvent value
    int enclosureIndex = 0;
    int memberDisk = 0;      // 0 HDD1, 1 HDD2
    // Empty: the kind's own heading ("Device1 fan fail."). A caller with an
    // alert of its own (a warning of the user's) names it here.
    std::string heading;
    // Lines after the enclosure's report: what the enclosure reported with
    // the alarm (fan speed, temperature).
    std::vector<std::string> details;
};

class AlertSink {
public:
    virtual ~AlertSink() = default;
    // kind: a NotificationEvent value; memberDisk: 0 HDD1, 1 HDD2.
    virtual void ComposeAlert(int kind, int enclosureIndex, int memberDisk) = 0;
    // The same with details; sinks that keep no details take the kind alone.
    virtual void RaiseAlert(const Alert& alert) { ComposeAlert(alert.kind, alert.enclosureIndex, alert.memberDisk); }
};

}  // namespace kestrel
