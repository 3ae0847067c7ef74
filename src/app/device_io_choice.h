#pragma once
// The device layer the program runs on: the simulated PC of a scenario
// (--simulate [FILE]) or the real devices.
#include <memory>
#include <string>

#include "platform/device_io.h"
#include "platform/product_variant.h"
#include "platform/linux/linux_device_io.h"
#include "sim/simulated_pc.h"

namespace kestrel {

struct DeviceIoChoice {
    std::unique_ptr<DeviceIo> io;          // null when the scenario was refused
    sim::SimulatedPc* simulated = nullptr; // the same object when simulating
    linuxio::LinuxDeviceIo* real = nullptr; // the same object on the real devices
    std::string error;                     // why the scenario was refused
};

// simulate with an empty file name takes the variant's built-in demo scenario.
DeviceIoChoice ChooseDeviceIo(bool simulate, const std::string& scenarioFile,
                              ProductVariant variant = ProductVariant::Raid);

}  // namespace kestrel
