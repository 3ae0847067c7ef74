#include "app/direct_detection.h"

#include <chrono>

#include "platform/time_scale.h"
#include "sim/simulated_pc.h"

namespace kestrel {

namespace {

TransportOptions OneShotTransport(double timeScale) {
    TransportOptions options;
    options.identifyPause = std::chrono::milliseconds(ScaledMs(500, timeScale));
    return options;
}

}  // namespace

DirectDetection::DirectDetection(const DeviceIoChoice& devices, double timeScale, MessageBoxes& boxes,
                                 StatusBar& bar, std::function<void(const std::string&)> notice)
    : transport(*devices.io, boxes, bar, OneShotTransport(timeScale)),
      reader(transport),
      detection_(drives, transport, *devices.io, reader) {
    if (devices.simulated) {
        devices.simulated->SetTimeScale(timeScale);
        // A one-shot run has no scenario clock: the steps at 0 ms set the PC up.
        devices.simulated->AdvanceTo(std::chrono::milliseconds(0));
    }
    detection_.SetNotice(std::move(notice));
    drives.LogicalDriveCount = detection_.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection_.CountPhysicalDrives();
    detection_.Redetect(true);
    detection_.CommitDetection(true, {});
}

}  // namespace kestrel
