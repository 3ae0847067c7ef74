#pragma once
// The one-shot firmware upgrade for a shell: finds the enclosures, loads
// the image and runs the same upgrade as the Upgrade page's button, with
// its progress and texts on the terminal.
#include <cstdio>

#include "app/command_line.h"
#include "app/device_io_choice.h"
#include "platform/product_variant.h"

namespace kestrel {

// Needs a running Qt application object. Returns 0 after a verified
// upgrade, 1 when it was refused or failed.
int RunUpgradeCommand(const Options& options, ProductVariant variant, DeviceIoChoice devices, std::FILE* out,
                      bool outIsTerminal);

// Writes the simulated enclosure's own image, a valid one, to path.
// Returns 0 when written, 1 otherwise (with a message on err).
int WriteSampleImage(const std::string& path, std::FILE* err);

}  // namespace kestrel
