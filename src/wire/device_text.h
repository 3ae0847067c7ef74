#pragma once
// Text that comes from a device (model names, serial numbers, firmware
// revisions) is untrusted bytes. One rule makes it safe wherever it goes, the
// log file, standard output, the window and mail: CR and LF become a blank,
// every other control character ('?' for C0, DEL and C1) becomes '?', and the
// rest is read as Latin-1 and written as UTF-8.
#include <string>
#include <string_view>

namespace kestrel {

std::string DeviceText(std::string_view raw);

}  // namespace kestrel
