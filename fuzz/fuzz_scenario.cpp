// The scenario loader. The input is the scenario text.
//
// Properties: a scenario is either accepted or refused with a reason, never
// both; the reason is one clean line that names the file; an accepted
// scenario builds a simulated PC whose every step runs.
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto scratch = fuzz::ScratchDir();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const sim::ScenarioLoad load = sim::ParseScenario(text, "fuzz.json", scratch->path().toStdString());
    FUZZ_CHECK(load.scenario.has_value() != !load.error.empty(), "accepted and refused: " + Shown(load.error));
    if (!load.scenario) {
        FUZZ_CHECK(load.error.rfind("fuzz.json:", 0) == 0, "reason without the file: " + Shown(load.error));
        FUZZ_CHECK(fuzz::IsCleanLine(load.error), "reason not one clean line: " + Shown(load.error));
        return 0;
    }
    sim::SimulatedPc pc(*load.scenario);
    for (const sim::Step& step : load.scenario->timeline) pc.RunStep(step);
    return 0;
}
