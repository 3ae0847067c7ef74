#pragma once
// Texts of the event log taken from an enclosure's blocks: the member disk
// detail lines and the device information block.
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

namespace kestrel::logtext {

// A line of 83 hyphen-minus characters.
const std::string& Separator();

// "D<n>": enclosure index plus one.
std::string DeviceTag(unsigned index);

// Member disk texts; disk 0 = HDD1, 1 = HDD2.
std::string MemberName(int disk);
std::string MemberModel(const MemberStatus& member);   // trailing blanks removed, never below six
std::string MemberSerial(const MemberStatus& member);  // untrimmed
std::string MemberCapacity(const MemberStatus& member);
std::string MemberSpeed(const MemberStatus& member);   // "", "1.5G", "3G" or "6G"

// The three detail lines of a member disk: model, serial in double
// quotation marks, capacity. modelLabel carries its own trailing blank (or
// not), since the two places that write these lines differ there.
void AppendDetailLines(std::vector<std::string>& out, const MemberStatus& member, const std::string& indent,
                       const std::string& modelLabel);

// The device information block of enclosure index (its committed identify
// block and current status record).
std::vector<std::string> DeviceBlock(unsigned index, const Block512& identify, const EnclosureStatus& status);

// The journal priority of a day-log line (syslog levels: 2 crit, 3 err,
// 4 warning, 5 notice, 6 info): a removed enclosure is critical, a failed
// disk an error, a lost disk, an alarm or bad sectors a warning, a new
// device or an alarm's end a notice; progress and everything else info.
int LinePriority(const std::string& line);

}  // namespace kestrel::logtext
