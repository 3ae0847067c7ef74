#pragma once
// What a simulated PC consists of, as a scenario file describes it: the
// physical drives and logical volumes, the enclosures with their access
// paths, identity, status and flash, the host's fixed management answers,
// and a timeline of changes. docs/scenario.md documents the file format.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/product_variant.h"

namespace kestrel::sim {

// Every request the simulated PC receives falls in one of these kinds; the
// request log records them and a timeline step can make a kind fail.
enum class RequestKind {
    Open,          // opening a drive or volume
    Inquiry,       // SCSI INQUIRY
    Rescan,        // bus rescan
    Extents,       // volume disk extents query
    Identify,      // READ(10) of block 58, IDENTIFY DEVICE, bridge Identify
    Status,        // READ(10) of block 33, bridge read of the current status record
    Probe,         // bridge Probe of the record area
    FlashRead,     // flash read command (command sector, ATA 0x88/0x01, bridge Read)
    FlashResult,   // READ(10) of block 60
    FlashProgram,  // flash program (command sector, bridge Write)
    FlashErase,    // flash erase (command sector, bridge Erase)
    Mode,          // access mode commands (command sector classes 0x03, 0x04, 0x10; ATA 0x88)
    Command,       // configuration, initialise and rebuild command sectors
    BridgeFixed,   // the bridge's fixed command
    Read,          // READ(10) of any other block
    Write,         // WRITE(10) of any other block
    Other,         // anything else, malformed requests included
};
inline constexpr int kRequestKindCount = static_cast<int>(RequestKind::Other) + 1;
const char* RequestKindName(RequestKind kind);
std::optional<RequestKind> RequestKindFromName(std::string_view name);

struct PathSet {
    bool ata = false;
    bool mailbox = false;
    bool bridge = false;
    bool shift0 = true;           // the bridge understands CDBs built with shift 0
    bool shift1 = true;           // ... and with shift 1
    bool bridgeIdentify = true;   // false: the bridge answers only the fixed command
};

// A status field value: a number, a text, or a list of sector addresses.
using FieldValue = std::variant<uint64_t, std::string, std::vector<uint32_t>>;
struct FieldSetting {
    std::string name;
    FieldValue value;
};

struct IdentityConfig {
    std::string model = "KESTREL RAID";
    std::string firmwareRevision = "100126.1";
    std::string serial;  // a scenario without one gets "KSIM" + a number of its own
};

struct EnclosureConfig {
    std::string name;
    PathSet paths;
    IdentityConfig identity;
    std::vector<FieldSetting> status;
    std::vector<uint8_t> flashImage;  // 512 KiB; empty: the built-in image
    bool plugged = true;
};

struct DriveConfig {
    int number = 0;
    std::string enclosure;           // empty: a plain disk
    std::optional<PathSet> paths;    // this drive number's own paths
    std::string model = "SIM DISK";  // plain disks
};

struct VolumeConfig {
    char letter = 'C';
    unsigned type = 3;
    std::optional<int> disk;  // physical drive of the first extent; none: cannot be opened
    uint64_t offset = 1048576;
    uint64_t length = 0;
};

enum class Action {
    Set, PullDisk, InsertDisk, FailDisk, StartRebuild, StartScan, BadSectors,
    FanAlarm, TemperatureAlarm, Unplug, Plug, UsbEvent, Fail, Quit,
};
const char* ActionName(Action action);

struct Step {
    std::optional<uint64_t> atMs;             // fires at this scenario time
    std::optional<unsigned> afterStatusReads; // or after this many status reads of the enclosure
    std::string enclosure;                    // empty: every enclosure (Fail) or none needed
    Action action = Action::Quit;
    std::vector<FieldSetting> fields;         // Set
    int disk = 1;                             // 1 = HDD1, 2 = HDD2
    std::string model, serial;                // InsertDisk
    uint64_t capacity = 0;                    // InsertDisk
    unsigned percentStep = 10;                // StartRebuild, StartScan
    std::vector<uint32_t> lbas;               // BadSectors
    bool on = true;                           // FanAlarm, TemperatureAlarm
    RequestKind request = RequestKind::Status;// Fail
    int times = 1;                            // Fail: -1 from then on, 0 clears
    int after = 0;                            // Fail: requests that succeed first
};

struct HostInfo {
    std::string boardVendor;
    std::string boardName;
    std::string systemName;
    std::vector<std::string> ipAddresses;
};

// How long the flash takes, when a scenario switches the timing on: the
// simulated PC then holds each request as long as the chip would.
struct FlashTiming {
    bool on = false;
    double eraseMs = 45.0;    // one 4 KiB sector
    double programMs = 0.7;   // one 256-byte page
    double readMs = 0.0;      // one 512-byte block
    double commandMs = 0.0;   // one configuration, initialise or rebuild command
};

struct Scenario {
    std::string source;  // file name, or "built-in demo"
    FlashTiming flashTiming;
    HostInfo host;
    std::vector<DriveConfig> drives;
    std::vector<VolumeConfig> volumes;
    std::vector<EnclosureConfig> enclosures;
    std::vector<Step> timeline;
};

struct ScenarioLoad {
    std::optional<Scenario> scenario;
    std::string error;  // "<file>: <where>: <what was expected>" when refused
};

// Reads and checks a scenario file; a flash image named in it is read
// relative to the file's folder.
ScenarioLoad LoadScenarioFile(const std::string& path);
// Checks scenario text; sourceName names it in errors, baseDir resolves
// flash image files.
ScenarioLoad ParseScenario(std::string_view json, const std::string& sourceName, const std::string& baseDir);
// The demo scenarios used by --simulate without a file: the RAID program's,
// and the Hybrid program's with its SSD exchange.
std::string_view BuiltInScenarioText();
std::string_view BuiltInHybridScenarioText();
ScenarioLoad BuiltInScenario(ProductVariant variant = ProductVariant::Raid);

}  // namespace kestrel::sim
