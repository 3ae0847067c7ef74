#pragma once
// Carries vendor requests to an enclosure inside the storage pass-through
// requests of the DeviceIo seam: SCSI READ(10)/WRITE(10)/INQUIRY, the USB
// bridge's vendor CDB, and ATA taskfiles through IDE pass-through.
//
// One Transport exists, owned by the composition root. It keeps the common
// device handle, the bridge's CDB shift and the shared command and response
// buffers. Every operation opens the drive, issues its requests and closes
// it. Nothing here is locked: detection (on its own thread) and the
// user-interface thread never issue requests at the same time, because the
// monitoring flags keep them apart; any further source of requests must be
// serialised with those two.
//
// Writes leave for a drive only here, so this is where a disk is kept safe:
// a request that writes (WRITE(10), a bridge Write or Erase, any ATA command
// but IDENTIFY DEVICE) goes only to a physical drive that detection has
// admitted, that is shown by reads alone to be an enclosure controller
// (enclosure_proof.h). To any other drive, and to a volume, it is refused
// unsent.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "device/enclosure_proof.h"
#include "wire/command_sector.h"
#include "wire/drive_table.h"
#include "platform/device_io.h"
#include "platform/pass_through.h"
#include "platform/op_result.h"
#include "platform/user_interface.h"

namespace kestrel {

enum class BridgeKind { Read, Probe, Write, Erase, Identify };

using AtaTaskfile = passthrough::AtaTaskfile;
using AtaReturned = passthrough::AtaReturned;

inline constexpr uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr uint8_t kAtaVendorCommand = 0x88;

// Mailbox block addresses.
namespace mailbox {
inline constexpr uint32_t kCommand = 20;
inline constexpr uint32_t kStatus = 33;
inline constexpr uint32_t kIdentify = 58;
inline constexpr uint32_t kFlashResult = 60;
inline constexpr uint32_t kFirstNumbered = 3;  // numbered command blocks 3..130
}  // namespace mailbox

struct TransportOptions {
    // Waits the pause before IDENTIFY DEVICE; the default sleeps.
    std::function<void(std::chrono::milliseconds)> pause;
    // The pause itself (500 ms, scaled by the composition root).
    std::chrono::milliseconds identifyPause{500};
    // Pseudo-random numbers for the numbered mailbox blocks; the default
    // generator is seeded from the clock when the transport is created.
    std::function<uint32_t()> random;
};

class Transport {
public:
    Transport(DeviceIo& io, MessageBoxes& boxes, StatusBar& bar, TransportOptions options = {});
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // An argument below 'C' (signed) is a physical drive number, anything
    // else a drive letter. Sets the common handle and returns it; the caller
    // checks it and closes it. Numbers outside 0..9 and letters outside
    // 'C'..'Z' are refused (invalid handle) without asking the device layer.
    DeviceHandle OpenDevice(int driveNumberOrLetter);
    // As OpenDevice; on failure shows "Invalid Drive" and returns it.
    [[nodiscard]] OpResult OpenOrReport(int driveNumberOrLetter);
    // Closes the common handle if it is open.
    void CloseDevice();
    DeviceHandle Handle() const { return handle_; }

    // All builders return true when the pass-through request itself
    // succeeded, the device answered GOOD and moved every byte the caller
    // reads; a shorter transfer fails. A buffer too small for the request
    // fails without sending anything.
    bool ScsiRead10(DeviceHandle handle, uint32_t lba, std::span<uint8_t> buffer, unsigned count);
    bool ScsiWrite10(DeviceHandle handle, uint32_t lba, std::span<const uint8_t> buffer, unsigned count);
    bool ScsiInquiry(DeviceHandle handle, std::span<uint8_t> buffer36);
    // Uses the common handle and the current CDB shift. Erase's 8 reply
    // bytes mean nothing, so a bridge that sends fewer still succeeds.
    bool BridgeCommand(BridgeKind kind, std::span<uint8_t> buffer, uint32_t address);
    // Reply (up to 20 bytes) lands in the shared response buffer; only its
    // first two bytes are read, so a reply of at least two succeeds.
    bool BridgeFixedCommand();
    // returned (when given) receives the registers the device gave back,
    // whatever the outcome; the data is copied to the buffer only on
    // success.
    bool AtaCommand(DeviceHandle handle, const AtaTaskfile& taskfile, std::span<uint8_t> buffer, unsigned sectors,
                    AtaReturned* returned = nullptr);
    // WRITE(10) of the sealed command sector to lba, one block, on the
    // common handle.
    bool SendCommandSector(uint32_t lba);

    CommandSector& Command() { return command_; }
    Block512& Response() { return response_; }

    uint8_t CdbShift() const { return cdbShift_; }
    void SetCdbShift(uint8_t shift) { cdbShift_ = shift ? 1 : 0; }
    // 1 when bit 0x80 of the enclosure's flags is set, else 0.
    void SetCdbShiftFromFlags(uint32_t flags) { SetCdbShift((flags & access::kCdbShift1) ? 1 : 0); }
    // A fresh numbered command block, 3 + (random & 0x7F).
    uint32_t NextMailboxBlock();

    // Admits the drive for requests that write when the evidence proves it
    // an enclosure controller; otherwise it is not admitted (or no longer).
    Proof Admit(unsigned drive, const EnclosureEvidence& evidence);
    // Takes back every admission but the kept drive's (the enclosure under
    // maintenance, which a detection does not probe).
    void RevokeAllBut(std::optional<unsigned> kept);
    bool Admitted(unsigned drive) const;
    // As OpenOrReport, for an operation that will write: a drive not admitted
    // is refused before it is opened, with the reason in panel 4 and a box.
    [[nodiscard]] OpResult OpenForMaintenance(unsigned drive);
    // The last request was a write refused unsent; its reason is in panel 4.
    bool WriteRefused() const { return writeRefused_; }

    StatusBar& Bar() { return bar_; }
    MessageBoxes& Boxes() { return boxes_; }
    // A failed request's text: shown on the error panel and kept as the
    // failure an operation returns.
    void ReportFailure(const std::string& text);
    const std::string& LastFailure() const { return lastFailure_; }

private:
    // needed: how many of the length bytes the caller reads.
    bool ScsiRequest(DeviceHandle handle, const std::array<uint8_t, 16>& cdb, bool dataIn, uint8_t* data,
                     uint32_t length, uint32_t timeoutSeconds, uint32_t needed);

    DeviceIo& io_;
    MessageBoxes& boxes_;
    StatusBar& bar_;
    TransportOptions options_;
    // Whether the open handle is a drive admitted for writes; when not, the
    // refusal is shown in panel 4.
    bool WriteAllowed(DeviceHandle handle);

    DeviceHandle handle_ = kInvalidHandle;
    int openDrive_ = -1;
    bool writeRefused_ = false;  // physical drive of the open handle, -1 for a volume or none
    std::atomic<uint32_t> admitted_{0};  // bit n: drive n; set by detection, read by every thread
    uint8_t cdbShift_ = 1;
    CommandSector command_;
    Block512 response_{};
    std::string lastFailure_;
};

// Panel of the status bar that shows transport errors.
inline constexpr int kErrorPanel = 4;
// "Error code " + block + digit (1 = write failed, 0 = read failed).
std::string MailboxErrorText(uint32_t block, bool write);
// "Physical drive <n> is not a supported enclosure; nothing is written to it."
std::string NotSupportedText(unsigned drive);

}  // namespace kestrel
