#pragma once
#include "platform/product_variant.h"

namespace kestrel {

// The process entry shared by both executables: refuses a second instance,
// creates the main window (or the headless service) and runs the event loop.
// Returns the process exit code: 0, or 2 for a bad command line.
int Run(ProductVariant variant, int argc, char** argv);

}  // namespace kestrel
