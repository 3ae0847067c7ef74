#pragma once
// Finds the PC's logical volumes and physical drives, probes every physical
// drive for an enclosure controller over the three access paths, and keeps
// the result on the probe side of the DriveTable until the commit publishes
// it.
//
// Threads: Redetect (and so IdentifyEnclosures and BuildVolumeTable) runs on
// the detection thread and writes only the probe side of the table (the
// volume table too), the transport's shared buffers and CDB shift, and status-bar
// panels 2 and 4 (the StatusBar port is thread-safe). A message box it shows
// ("Drive Count Must less than 20.", "Invalid Drive") is shown from that
// thread too, so the MessageBoxes port given to the transport must accept
// calls from it; the program gives it boxes that do not wait for an answer. The window's pending messages are not processed here: the
// detection thread has none, and the user-interface thread keeps running.
// Everything else runs on the user-interface thread.
#include <functional>
#include <string>

#include "wire/drive_table.h"
#include "device/transport.h"
#include "device/status_reader.h"
#include "platform/device_io.h"

namespace kestrel {

class DriveDetection {
public:
    DriveDetection(DriveTable& drives, Transport& transport, DeviceIo& io, StatusReader& reader)
        : drives_(drives), transport_(transport), io_(io), reader_(reader) {}

    // Collects the letters of the logical drives from C: upward, at most 24,
    // into LogicalLetters and returns how many there are. The caller keeps
    // the count as LogicalDriveCount (the baseline of the presence watch).
    int EnumerateLogicalDrives();
    // How many of PhysicalDrive0..9 can be opened. The caller keeps it as
    // PhysicalDriveCount.
    int CountPhysicalDrives();
    // Fills the probe copy of the volume table from the first
    // LogicalDriveCount letters (at most 20; more shows "Drive Count Must
    // less than 20."); the commit publishes it.
    void BuildVolumeTable();
    // Probes drives 0..9 and fills the probe side of the table; returns
    // ProbeCount. firstStatusPending: the status page has not been drawn yet.
    unsigned IdentifyEnclosures(bool firstStatusPending);
    // BuildVolumeTable, then IdentifyEnclosures.
    unsigned Redetect(bool firstStatusPending);
    // Publishes the probe result as the committed list. Unless this is the
    // first detection since start-up, reportPresenceChanges runs first,
    // while the old list is still in place.
    void CommitDetection(bool firstStatusPending, const std::function<void()>& reportPresenceChanges);

    // Where what detection says once goes besides panel 4 (the program
    // gives standard error): a drive that answers like an enclosure but is
    // not a supported one, and enclosures left out past the eighth. Called
    // from the detection thread.
    void SetNotice(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }

private:
    enum class BridgeAnswer { None, Identify, Fixed };
    BridgeAnswer TryBridge(uint8_t shift, Block512& identifyBuffer);
    void Say(const std::string& text);

    DriveTable& drives_;
    Transport& transport_;
    DeviceIo& io_;
    StatusReader& reader_;
    std::function<void(const std::string&)> notice_;
    uint32_t lookAlikesSaid_ = 0;  // bit n: drive n was said to be no supported enclosure
    std::string leftOutSaid_;
};

// Status-bar panel that shows the identification stage.
inline constexpr int kStagePanel = 2;

}  // namespace kestrel
