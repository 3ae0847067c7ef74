#pragma once
// The desktop's notification service, in place of the mail-only alerts of
// old: one short message per event, shown by whatever the desktop runs.
#include <functional>
#include <string>

namespace kestrel {

struct DesktopNote {
    enum class Urgency { Low = 0, Normal = 1, Critical = 2 };
    std::string summary;
    std::string body;
    Urgency urgency = Urgency::Normal;
};

class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // Hands the note over without waiting for the service; when no service
    // takes it, undelivered runs later, on the calling thread's event loop.
    virtual void Notify(const DesktopNote& note, std::function<void()> undelivered) = 0;
};

}  // namespace kestrel
