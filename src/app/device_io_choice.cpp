#include "app/device_io_choice.h"

#include "platform/linux/linux_device_io.h"

namespace kestrel {

DeviceIoChoice ChooseDeviceIo(bool simulate, const std::string& scenarioFile, ProductVariant variant) {
    DeviceIoChoice choice;
    if (!simulate) {
        auto real = std::make_unique<linuxio::LinuxDeviceIo>();
        choice.real = real.get();
        choice.io = std::move(real);
        return choice;
    }
    sim::ScenarioLoad load = scenarioFile.empty() ? sim::BuiltInScenario(variant) : sim::LoadScenarioFile(scenarioFile);
    if (!load.scenario) {
        choice.error = load.error;
        return choice;
    }
    auto pc = std::make_unique<sim::SimulatedPc>(*load.scenario);
    choice.simulated = pc.get();
    choice.io = std::move(pc);
    return choice;
}

}  // namespace kestrel
