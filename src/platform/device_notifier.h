#pragma once
// Tells the program that some device came or went. It says nothing about
// which: the presence watch re-counts the drives itself.
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

class DeviceNotifier {
public:
    virtual ~DeviceNotifier() = default;
    // False when notifications cannot be received; Error() says why.
    virtual bool Active() const = 0;
    virtual std::string Error() const = 0;
};

// Watches the block and usb subsystems through a udev monitor; onChange runs
// on the thread that created the notifier (its event loop), once per event
// that adds or removes a device (PresenceAction).
std::unique_ptr<DeviceNotifier> CreateUdevNotifier(std::function<void()> onChange);

// Whether a udev action means a device came or went. Only "add" and
// "remove" do: udev sends "change" for every close of a disk node opened
// for writing (its "watch" rule), and the monitor's own requests must not
// restart the wait for the system to settle.
bool PresenceAction(const char* action);

}  // namespace kestrel
