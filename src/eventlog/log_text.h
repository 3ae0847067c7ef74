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

// Lines of the maintenance operations, without the timestamp the log adds.
// A failure's reason is the operation's own text, in parentheses.
// "D1 Firmware upgrade started: F/W Rev. 100126.1.R1A, new firmware R1B (Chksum:0012AB34), "
std::string UpgradeStartLine(unsigned index, const std::string& oldRevision, const std::string& newCode,
                             const std::string& checksum);
// "D1 Firmware upgrade verified: F/W Rev. 100126.1.R1A, new firmware R1B from the next power-on, " or
// "D1 Firmware upgrade failed (SPI Program Fail.): F/W Rev. 100126.1.R1A, new firmware R1B, "
std::string UpgradeEndLine(unsigned index, const std::string& oldRevision, const std::string& newCode,
                           const std::string& failure);
// What a maintenance operation did: "D1 Initialize started, ", "D1 Initialize completed, ",
// "D1 Initialize failed (Clr LBA0 Fail.), ". what: "Initialize", "Rebuild of HDD1 from HDD2".
std::string OperationLine(unsigned index, const std::string& what, const std::string& result,
                          const std::string& failure = {});
// "D1 Backup schedule set to every 30 minutes, ", "D1 Backup schedule switched off, ",
// "D1 Backup schedule change failed (reason), ".
std::string ScheduleLine(unsigned index, bool on, unsigned minutes, const std::string& failure = {});
// "D1 Reminder: Degraded since <when>, ": a problem that lasts.
std::string ReminderLine(unsigned index, const std::string& problem, const std::string& since);

// The journal priority of a day-log line (syslog levels: 2 crit, 3 err,
// 4 warning, 5 notice, 6 info): a removed enclosure is critical, a failed
// disk or a failed maintenance operation an error, a lost disk, an alarm,
// bad sectors or a reminder a warning, a new device, an alarm's end or a
// maintenance operation a notice; progress and everything else info.
int LinePriority(const std::string& line);

}  // namespace kestrel::logtext
