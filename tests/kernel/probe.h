#pragma once
// What the kernel-in-the-loop test runs on both sides: the program's own
// device layer (transport, detection, access paths, status reads) against a
// DeviceIo, written down as a report. In the guest the DeviceIo is the
// Linux SG_IO layer on the kernel's disks; on the host it is the simulated
// PC the guest's disks are served from. The two reports must be equal.
#include <string>

#include "platform/device_io.h"

namespace kestrel::kernelloop {

// Detects the enclosures, then for each reads its status twice and 512
// bytes of flash over its access path.
std::string RunProbe(DeviceIo& io);

// What a user's maintenance does to every drive: detection (with what it
// says), three rounds of status polls, IDENTIFY DEVICE through ATA
// pass-through on every drive, then a firmware upgrade with the image at
// imagePath and an Initialize on every listed enclosure, and both again on
// every drive that is not listed, as if it were a mailbox and then an ATA
// enclosure. One line for each outcome.
std::string RunMaintenance(DeviceIo& io, const std::string& imagePath);

// The scenario the guest's disks come from: one enclosure on each access
// path and a plain disk; the mailbox enclosure's HDD2 is pulled after its
// second status read.
const char* ProbeScenario();
inline constexpr unsigned kProbeDrives = 7;

}  // namespace kestrel::kernelloop
