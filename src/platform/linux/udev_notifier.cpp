#include <libudev.h>

#include <QSocketNotifier>
#include <cstring>

#include "platform/device_notifier.h"

namespace kestrel {

namespace {

class UdevNotifier final : public DeviceNotifier {
public:
    explicit UdevNotifier(std::function<void()> onChange) : onChange_(std::move(onChange)) {
        udev_ = udev_new();
        if (!udev_) {
            error_ = "udev is not available";
            return;
        }
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (!monitor_) {
            error_ = "cannot watch udev events";
            return;
        }
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            error_ = "cannot watch udev events (no permission?)";
            return;
        }
        const int fd = udev_monitor_get_fd(monitor_);
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
    }
    ~UdevNotifier() override {
        notifier_.reset();
        if (monitor_) udev_monitor_unref(monitor_);
        if (udev_) udev_unref(udev_);
    }
    bool Active() const override { return notifier_ != nullptr; }
    std::string Error() const override { return error_; }

private:
    void Drain() {
        // Every arrival and removal counts; the presence watch restarts its
        // wait for each, so a burst still costs one check.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            const bool presence = PresenceAction(udev_device_get_action(device));
            udev_device_unref(device);
            if (presence && onChange_) onChange_();
        }
    }

    std::function<void()> onChange_;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string error_;
};

}  // namespace

bool PresenceAction(const char* action) {
    return action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
}

std::unique_ptr<DeviceNotifier> CreateUdevNotifier(std::function<void()> onChange) {
    return std::make_unique<UdevNotifier>(std::move(onChange));
}

}  // namespace kestrel
