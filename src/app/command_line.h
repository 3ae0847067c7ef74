#pragma once
// The options this platform adds to the program. Without any of them the
// program runs against the real devices with the default files.
#include <optional>
#include <string>
#include <vector>

#include "platform/product_variant.h"
#include "platform/time_scale.h"

namespace kestrel {

struct Options {
    bool simulate = false;
    std::string scenarioFile;  // empty: the built-in demo scenario
    bool headless = false;
    std::string logDir;        // empty: beside the executable
    std::string registryFile;  // empty: default under the configuration directory
    double timeScale = 1.0;
    std::string upgradeFirmware;  // one-shot upgrade with this image file
    int slot = 1;                 // its enclosure slot, 1 or 2
    std::string writeSampleImage; // one-shot: write a valid image to this file
    bool testMail = false;        // one-shot: send a test mail with the stored settings
};

struct ParseOutcome {
    enum class Kind { Run, Exit } kind = Kind::Run;
    Options options;
    int exitCode = 0;
    std::string out;  // text for standard output (help, version)
    std::string err;  // one-line error for standard error
};

// args[0] is the program name. displayAvailable tells whether DISPLAY or
// WAYLAND_DISPLAY is set; without one the program runs headless.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, ProductVariant variant,
                              bool displayAvailable);

}  // namespace kestrel
