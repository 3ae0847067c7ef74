#pragma once
// The simulated PC's physical drives as SCSI logical units, LUN n being
// physical drive n: what a disk must answer for the Linux kernel to attach
// it (INQUIRY VPD pages, TEST UNIT READY, READ CAPACITY, MODE SENSE,
// READ/WRITE(16), SYNCHRONIZE CACHE) is answered here; everything else,
// standard INQUIRY, READ/WRITE(10), the vendor CDBs and ATA PASS-THROUGH
// included, goes to the simulated controller through the same DeviceIo
// requests the program itself builds.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/device_io.h"

namespace kestrel::kernelloop {

struct ScsiOutcome {
    uint8_t status = 0;            // SCSI status
    std::vector<uint8_t> dataIn;   // data for the initiator
    std::vector<uint8_t> sense;
};

class SimulatedLuns {
public:
    // io: the simulated PC; luns: how many drive numbers (from 0) to serve.
    SimulatedLuns(DeviceIo& io, unsigned luns) : io_(io), luns_(luns) {}

    unsigned Count() const { return luns_; }
    // Runs one command. cdb: the 16 bytes as they arrived (shorter CDBs
    // padded with zeros); expectedIn: the initiator's expected data-in
    // length; dataOut: the data it sent.
    ScsiOutcome Execute(unsigned lun, std::span<const uint8_t, 16> cdb, uint32_t expectedIn,
                        std::span<const uint8_t> dataOut);

    // One line per command: time since start, LUN, CDB, status.
    std::vector<std::string> Log() const;

private:
    ScsiOutcome Simulated(unsigned lun, std::span<const uint8_t, 16> cdb, uint8_t cdbLength, uint32_t expectedIn,
                          std::span<const uint8_t> dataOut);
    ScsiOutcome AtaPassThrough(unsigned lun, std::span<const uint8_t, 16> cdb, uint32_t expectedIn);

    DeviceIo& io_;
    unsigned luns_;
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The length of a CDB by its operation code group (vendor groups as 10).
uint8_t CdbLength(uint8_t opcode);

}  // namespace kestrel::kernelloop
