#pragma once

#include "app/device_io_choice.h"
#include "device/detection.h"
#include "device/status_reader.h"
#include "device/transport.h"

namespace kestrel {

// A one-shot command (the status query, the command-line upgrade) finds the
// enclosures itself, without the monitor: one detection, committed at once.
class DirectDetection {
public:
    // notice: where what detection says once goes besides panel 4 (a drive
    // that is not a supported enclosure, enclosures past the eighth).
    DirectDetection(const DeviceIoChoice& devices, double timeScale, MessageBoxes& boxes, StatusBar& bar,
                    std::function<void(const std::string&)> notice = {});
    DirectDetection(const DirectDetection&) = delete;
    DirectDetection& operator=(const DirectDetection&) = delete;

    Transport transport;
    StatusReader reader;
    DriveTable drives;

private:
    DriveDetection detection_;
};

}  // namespace kestrel
