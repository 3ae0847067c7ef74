#pragma once
// Texts of the event log taken from an enclosure's blocks: the member disk
// detail lines and the device information block.
#include <string>
#include <vector>

#include "wire/drive_table.h"

namespace kestrel::logtext {

// A line of 83 hyphen-minus characters.
const std::string& Separator();

// "D<n>": enclosure index plus one.
std::string DeviceTag(unsigned index);

// Member disk texts; disk 0 = HDD1, 1 = HDD2.
std::string MemberName(int disk);
std::string MemberModel(const Block512& status, int disk);   // trailing blanks removed, never below six
std::string MemberSerial(const Block512& status, int disk);  // untrimmed
std::string MemberCapacity(const Block512& status, int disk);
std::string MemberSpeed(const Block512& status, int disk);   // "", "1.5G", "3G" or "6G"

// The three detail lines of a member disk: model, serial in double
// quotation marks, capacity. modelLabel carries its own trailing blank (or
// not), since the two places that write these lines differ there.
void AppendDetailLines(std::vector<std::string>& out, const Block512& status, int disk,
                       const std::string& indent, const std::string& modelLabel);

// The device information block of enclosure index (its committed identify
// block and current status record).
std::vector<std::string> DeviceBlock(unsigned index, const Block512& identify, const Block512& status);

}  // namespace kestrel::logtext
