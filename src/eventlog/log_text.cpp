#include "eventlog/log_text.h"

#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel::logtext {

using namespace status;

const std::string& Separator() {
    static const std::string kSeparator(83, '-');
    return kSeparator;
}

std::string DeviceTag(unsigned index) { return "D" + std::to_string(index + 1); }

std::string MemberName(int disk) { return disk == 0 ? "HDD1" : "HDD2"; }

std::string MemberModel(const MemberStatus& m) { return DeviceText(TrimModel(m.model)); }

std::string MemberSerial(const MemberStatus& m) { return DeviceText(m.serial); }

std::string MemberCapacity(const MemberStatus& m) { return CapacityText(m.sectors); }

std::string MemberSpeed(const MemberStatus& m) { return SataSpeedLabel(m.speedCode); }

void AppendDetailLines(std::vector<std::string>& out, const MemberStatus& m, const std::string& indent,
                       const std::string& modelLabel) {
    out.push_back(indent + modelLabel + MemberModel(m));
    out.push_back(indent + "Serial no.: \"" + MemberSerial(m) + "\"");
    out.push_back(indent + "Capacity : " + MemberCapacity(m));
}

namespace {

void AppendMemberLines(std::vector<std::string>& out, const EnclosureStatus& s, int disk) {
    const std::string name = MemberName(disk);
    const MemberStatus& m = s.disks[static_cast<size_t>(disk)];
    const std::string indent = "    ";
    switch (m.condition) {
        case DiskCondition::Absent:
            out.push_back("  " + name + " is absent. ");
            // HDD1's model line has no blank after the colon here; HDD2's has.
            if (!MemberSerial(m).empty()) AppendDetailLines(out, m, indent, disk == 0 ? "Model no.:" : "Model no.: ");
            break;
        case DiskCondition::Present:
            out.push_back("  " + name + " is present.(SATA" + MemberSpeed(m) + ")");
            AppendDetailLines(out, m, indent, "Model no.: ");
            break;
        case DiskCondition::Failed:
            if (s.replacement == Replacement::Matched)
                out.push_back("  " + name + " was failed, Matched SSD, Reboot.");
            else if (s.replacement == Replacement::TooSmall)
                out.push_back("  " + name + " was failed, Capacity too small.");
            else
                out.push_back("  " + name + " was failed, Unmatched SSD.");
            AppendDetailLines(out, m, indent, "Model no.: ");
            break;
        case DiskCondition::Inserted: out.push_back(name + " was inserted."); break;
        case DiskCondition::Empty: break;
    }
}

}  // namespace

std::vector<std::string> DeviceBlock(unsigned index, const Block512& identify, const EnclosureStatus& s) {
    std::vector<std::string> out;
    out.push_back("Device" + std::to_string(index + 1) + " information :");
    out.push_back("Model# " + DeviceText(TrimModel(IdentifyModel(identify))));
    out.push_back(s.modeName + ", F/W Rev. " + DeviceText(IdentifyRevision(identify)) + "." + s.firmwareCode);
    out.push_back("Configured Capacity : " + CapacityText(s.configuredSectors));
    AppendMemberLines(out, s, 0);
    AppendMemberLines(out, s, 1);
    return out;
}

namespace {
std::string Failed(const std::string& failure) { return "failed (" + failure + ")"; }
}  // namespace

std::string UpgradeStartLine(unsigned index, const std::string& oldRevision, const std::string& newCode,
                             const std::string& checksum) {
    return DeviceTag(index) + " Firmware upgrade started: F/W Rev. " + oldRevision + ", new firmware " + newCode +
           " (" + checksum + "), ";
}

std::string UpgradeEndLine(unsigned index, const std::string& oldRevision, const std::string& newCode,
                           const std::string& failure) {
    const std::string revisions = ": F/W Rev. " + oldRevision + ", new firmware " + newCode;
    if (failure.empty()) return DeviceTag(index) + " Firmware upgrade verified" + revisions + " from the next power-on, ";
    return DeviceTag(index) + " Firmware upgrade " + Failed(failure) + revisions + ", ";
}

std::string OperationLine(unsigned index, const std::string& what, const std::string& result,
                          const std::string& failure) {
    return DeviceTag(index) + " " + what + " " + (failure.empty() ? result : Failed(failure)) + ", ";
}

std::string ScheduleLine(unsigned index, bool on, unsigned minutes, const std::string& failure) {
    const std::string result = !failure.empty() ? "change " + Failed(failure)
                               : on             ? "set to every " + std::to_string(minutes) + " minutes"
                                                : std::string("switched off");
    return DeviceTag(index) + " Backup schedule " + result + ", ";
}

std::string ReminderLine(unsigned index, const std::string& problem, const std::string& since) {
    return DeviceTag(index) + " Reminder: " + problem + " since " + since + ", ";
}

int LinePriority(const std::string& line) {
    auto has = [&](const char* text) { return line.find(text) != std::string::npos; };
    // Event lines begin with their enclosure's tag ("D1 "); device blocks,
    // separators and detail lines are information.
    const bool event = line.size() > 3 && line[0] == 'D' && line[1] >= '1' && line[1] <= '9' && line[2] == ' ';
    if (!event) return 6;
    if (has(" Device was removed.")) return 2;
    if (has(" was failed, ") || has(" failed (")) return 3;
    if (has(" was removed, ") || has(" began (") || has(" Bad Sector was found. ") || has(" while not monitored: ") ||
        has(" Reminder: "))
        return 4;
    if (has(" New Device was found.") || has(" ended (") || has(" Firmware upgrade ") || has(" Initialize ") ||
        has(" Rebuild of ") || has(" Backup schedule "))
        return 5;
    return 6;
}

}  // namespace kestrel::logtext
