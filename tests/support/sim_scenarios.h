#pragma once
// Scenario text for tests, checked on the way in.
#include <gtest/gtest.h>

#include <string>

#include "sim/scenario.h"

namespace kestrel::testing {

inline sim::Scenario ScenarioFrom(const std::string& json) {
    sim::ScenarioLoad load = sim::ParseScenario(json, "test.json", ".");
    EXPECT_TRUE(load.scenario) << load.error;
    return load.scenario ? *load.scenario : sim::Scenario{};
}

// A step that makes a request kind fail on one enclosure.
inline sim::Step FailStep(sim::RequestKind kind, const std::string& enclosure, int times = 1) {
    sim::Step step;
    step.action = sim::Action::Fail;
    step.request = kind;
    step.enclosure = enclosure;
    step.times = times;
    return step;
}

// One enclosure of each access path: drive 0 mailbox, 1 ATA, 2 bridge
// with shift 1, 3 bridge with shift 0 only, 4 a bridge answering only the
// fixed command, 5 mailbox and ATA, 6 a plain disk.
inline const char* kEveryPath = R"({
  "enclosures": [
    {"name": "m", "paths": ["mailbox"], "identity": {"model": "MAILBOX BOX", "firmwareRevision": "100126.1"}},
    {"name": "a", "paths": ["ata"], "identity": {"model": "ATA BOX", "firmwareRevision": "090618.2"}},
    {"name": "b", "paths": ["bridge"], "bridgeShifts": [1], "identity": {"model": "BRIDGE BOX"}},
    {"name": "b0", "paths": ["bridge"], "bridgeShifts": [0], "identity": {"model": "OLD BRIDGE"}},
    {"name": "fx", "paths": ["bridge"], "bridgeIdentify": false},
    {"name": "ma", "paths": ["mailbox", "ata"], "identity": {"model": "BOTH BOX"}}
  ],
  "drives": [
    {"number": 0, "enclosure": "m"}, {"number": 1, "enclosure": "a"}, {"number": 2, "enclosure": "b"},
    {"number": 3, "enclosure": "b0"}, {"number": 4, "enclosure": "fx"}, {"number": 5, "enclosure": "ma"},
    {"number": 6}
  ]
})";

}  // namespace kestrel::testing
