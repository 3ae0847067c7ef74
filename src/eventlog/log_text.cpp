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

std::string MemberModel(const Block512& s, int disk) {
    return DeviceText(TrimModel(AtaString(s, disk == 0 ? kDisk1Model : kDisk2Model, kModelLength)));
}

std::string MemberSerial(const Block512& s, int disk) {
    return DeviceText(AtaString(s, disk == 0 ? kDisk1Serial : kDisk2Serial, kSerialLength));
}

std::string MemberCapacity(const Block512& s, int disk) {
    return CapacityText(Sectors40(s, disk == 0 ? kDisk1Capacity : kDisk2Capacity));
}

std::string MemberSpeed(const Block512& s, int disk) { return SataSpeedLabel(DiskNibble(s[kSataSpeed], disk)); }

void AppendDetailLines(std::vector<std::string>& out, const Block512& s, int disk, const std::string& indent,
                       const std::string& modelLabel) {
    out.push_back(indent + modelLabel + MemberModel(s, disk));
    out.push_back(indent + "Serial no.: \"" + MemberSerial(s, disk) + "\"");
    out.push_back(indent + "Capacity : " + MemberCapacity(s, disk));
}

namespace {

void AppendMemberLines(std::vector<std::string>& out, const Block512& s, int disk) {
    const std::string name = MemberName(disk);
    const uint8_t nibble = DiskNibble(s[kDiskState], disk);
    const uint8_t activity = s[kActivityFlags];
    const std::string indent = "    ";
    if (nibble & kAbsent) {
        out.push_back("  " + name + " is absent. ");
        // HDD1's model line has no blank after the colon here; HDD2's has.
        if (!MemberSerial(s, disk).empty()) AppendDetailLines(out, s, disk, indent, disk == 0 ? "Model no.:" : "Model no.: ");
    } else if (nibble & kPresent) {
        out.push_back("  " + name + " is present.(SATA" + MemberSpeed(s, disk) + ")");
        AppendDetailLines(out, s, disk, indent, "Model no.: ");
    } else if (nibble & kFailed) {
        if (activity & kMatchedReplacement)
            out.push_back("  " + name + " was failed, Matched SSD, Reboot.");
        else if (activity & kMediaScan)
            out.push_back("  " + name + " was failed, Capacity too small.");
        else
            out.push_back("  " + name + " was failed, Unmatched SSD.");
        AppendDetailLines(out, s, disk, indent, "Model no.: ");
    } else if (nibble & kInserted) {
        out.push_back(name + " was inserted.");
    }
}

}  // namespace

std::vector<std::string> DeviceBlock(unsigned index, const Block512& identify, const Block512& s) {
    std::vector<std::string> out;
    out.push_back("Device" + std::to_string(index + 1) + " information :");
    out.push_back("Model# " + DeviceText(TrimModel(IdentifyModel(identify))));
    out.push_back(ModeName(s[kRaidMode]) + ", F/W Rev. " + DeviceText(IdentifyRevision(identify)) + "." +
                  FirmwareText(s));
    out.push_back("Configured Capacity : " + CapacityText(Sectors40(s, kConfiguredCapacity)));
    AppendMemberLines(out, s, 0);
    AppendMemberLines(out, s, 1);
    return out;
}

}  // namespace kestrel::logtext
