#pragma once
// --test-mail: one test mail with the stored settings, through the same
// mail thread and SMTP client as the alerts.
#include <cstdio>

#include "app/command_line.h"
#include "platform/product_variant.h"

namespace kestrel {

// Needs a QCoreApplication. Prints the outcome; 0 when delivered, 1 when not.
int RunTestMailCommand(const Options& options, ProductVariant variant, std::FILE* out);

}  // namespace kestrel
