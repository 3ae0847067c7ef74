// The demo the program runs with --simulate and no file: a PC with a system
// disk, a DVD drive and two enclosures, one on the SCSI mailbox and ATA
// paths, one behind a USB bridge. HDD2 of the first fails, a new disk goes
// in and the rebuild runs to completion; the second has a short fan alarm.
// The flash takes as long as the real chip, so that an upgrade (of an image
// written with --write-sample-image) moves its progress bar as on hardware.
//
// The Hybrid program's demo pairs an SSD (HDD1) with an HDD (HDD2): its
// SSD is exchanged for one the controller does not know, so that the
// program asks whether to restore it from the HDD; the second enclosure,
// behind a USB bridge, can be initialised from the Setup page.
#include "sim/scenario.h"

namespace kestrel::sim {

namespace {
constexpr const char kDemo[] = R"json({
  "flashTiming": true,
  "host": {
    "boardVendor": "Kestrel Boards Inc.",
    "boardName": "KB-Q87M",
    "systemName": "DEMO-PC",
    "ipAddresses": ["192.168.10.20", "fe80::20c:29ff:fe4b:1a2c"]
  },
  "enclosures": [
    {
      "name": "desk",
      "paths": ["mailbox", "ata"],
      "identity": { "model": "KESTREL DUAL RAID", "firmwareRevision": "100126.1", "serial": "KS10012601" },
      "status": {
        "raidMode": 1, "optionFlags": 3, "diskState": "0x22", "activityFlags": 0, "progress": 0,
        "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 2150, "temperature": 38,
        "firmwareCode": "R1A", "sataSpeed": "0x22", "backupPeriod": 60,
        "configuredCapacity": 1953525168,
        "disk1Model": "WDC WD10EZEX-00BN5A0", "disk1Serial": "WD-WCC3F1234567", "disk1Capacity": 1953525168,
        "disk2Model": "WDC WD10EZEX-00BN5A0", "disk2Serial": "WD-WCC3F7654321", "disk2Capacity": 1953525168
      }
    },
    {
      "name": "travel",
      "paths": ["bridge"],
      "bridgeShifts": [1],
      "identity": { "model": "KESTREL USB RAID", "firmwareRevision": "091020.3", "serial": "KS09102003" },
      "status": {
        "raidMode": 0, "optionFlags": 1, "diskState": "0x22",
        "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 1800, "temperature": 41,
        "firmwareCode": "S0C", "sataSpeed": "0x33",
        "configuredCapacity": 3907029168,
        "disk1Model": "ST2000DM001-1CH164", "disk1Serial": "Z1E0ABCD", "disk1Capacity": 1953525168,
        "disk2Model": "ST2000DM001-1CH164", "disk2Serial": "Z1E0EFGH", "disk2Capacity": 1953525168
      }
    }
  ],
  "drives": [
    { "number": 0, "model": "SAMSUNG SSD 850 EVO 250GB" },
    { "number": 1, "enclosure": "desk" },
    { "number": 2, "enclosure": "travel" }
  ],
  "volumes": [
    { "letter": "C", "type": "fixed", "disk": 0, "offset": 1048576, "length": 249000000000 },
    { "letter": "D", "type": "cdrom" },
    { "letter": "E", "type": "fixed", "disk": 1, "offset": 1048576, "length": 1000202000000 },
    { "letter": "F", "type": "fixed", "disk": 2, "offset": 1048576, "length": 2000397000000 }
  ],
  "timeline": [
    { "at": 15000, "enclosure": "desk", "action": "pull-disk", "disk": 2 },
    { "at": 27000, "enclosure": "desk", "action": "insert-disk", "disk": 2,
      "model": "WDC WD10EZEX-22MFCA0", "serial": "WD-WCC6Y0NEW001", "capacity": 1953525168 },
    { "at": 35000, "enclosure": "desk", "action": "start-rebuild", "disk": 2, "step": 12 },
    { "at": 45000, "enclosure": "travel", "action": "fan-alarm", "on": true },
    { "at": 60000, "enclosure": "travel", "action": "fan-alarm", "on": false }
  ]
})json";

constexpr const char kHybridDemo[] = R"json({
  "flashTiming": { "commandMs": 400 },
  "host": {
    "boardVendor": "Kestrel Boards Inc.",
    "boardName": "KB-Q87M",
    "systemName": "DEMO-PC",
    "ipAddresses": ["192.168.10.20", "fe80::20c:29ff:fe4b:1a2c"]
  },
  "enclosures": [
    {
      "name": "duo",
      "paths": ["mailbox", "ata"],
      "identity": { "model": "KESTREL HYBRID DUO", "firmwareRevision": "100126.1", "serial": "KH10012601" },
      "status": {
        "raidMode": 1, "optionFlags": 7, "backupPeriod": 60, "diskState": "0x22", "activityFlags": 0,
        "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 2050, "temperature": 36,
        "firmwareCode": "H1A", "sataSpeed": "0x33",
        "configuredCapacity": 488397168,
        "disk1Model": "SAMSUNG SSD 860 EVO 250GB", "disk1Serial": "S3YHNX0K123456", "disk1Capacity": 488397168,
        "disk2Model": "WDC WD10EZEX-00BN5A0", "disk2Serial": "WD-WCC3F2468013", "disk2Capacity": 1953525168
      }
    },
    {
      "name": "mobile",
      "paths": ["bridge"],
      "bridgeShifts": [1],
      "identity": { "model": "KESTREL HYBRID USB", "firmwareRevision": "091020.3", "serial": "KH09102003" },
      "status": {
        "raidMode": 1, "optionFlags": 3, "backupPeriod": 30, "diskState": "0x22",
        "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 1900, "temperature": 39,
        "firmwareCode": "H0C", "sataSpeed": "0x33",
        "configuredCapacity": 234441648,
        "disk1Model": "KINGSTON SA400S37120G", "disk1Serial": "50026B7782A1B2C3", "disk1Capacity": 234441648,
        "disk2Model": "ST1000LM035-1RK172", "disk2Serial": "WL1A2B3C", "disk2Capacity": 1953525168
      }
    }
  ],
  "drives": [
    { "number": 0, "model": "SAMSUNG SSD 850 EVO 250GB" },
    { "number": 1, "enclosure": "duo" },
    { "number": 2, "enclosure": "mobile" }
  ],
  "volumes": [
    { "letter": "C", "type": "fixed", "disk": 0, "offset": 1048576, "length": 249000000000 },
    { "letter": "D", "type": "cdrom" },
    { "letter": "E", "type": "fixed", "disk": 1, "offset": 1048576, "length": 250059000000 },
    { "letter": "F", "type": "fixed", "disk": 2, "offset": 1048576, "length": 120034000000 }
  ],
  "timeline": [
    { "at": 15000, "enclosure": "duo", "action": "pull-disk", "disk": 1 },
    { "at": 25000, "enclosure": "duo", "action": "insert-disk", "disk": 1,
      "model": "CRUCIAL CT250MX500SSD1", "serial": "1915E1A2B3C4", "capacity": 488397168 },
    { "at": 29000, "enclosure": "duo", "action": "fail-disk", "disk": 1 }
  ]
})json";

}  // namespace

std::string_view BuiltInScenarioText() { return {kDemo, sizeof kDemo - 1}; }
std::string_view BuiltInHybridScenarioText() { return {kHybridDemo, sizeof kHybridDemo - 1}; }

}  // namespace kestrel::sim
