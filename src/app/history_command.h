#pragma once
// --history: prints the stored history of every enclosure and exits 0; 1
// when there is none or the file cannot be read. Reads while a monitor
// writes, and touches no device.
#include <cstdio>

#include "app/command_line.h"

namespace kestrel {

int RunHistoryCommand(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace kestrel
