// What the simulator records for tests: every USB transfer and every bus
// cycle, numbered in one sequence so that "everything since mark X" can be
// asked of both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Mark = uint64_t;

struct Transfer {
    Mark seq;
    double time;           // modelled clock when the transfer ended
    uint8_t endpoint;      // as passed: 0x02 OUT, 0x81 IN, or whatever the caller tried
    int requested;         // length asked for
    std::vector<uint8_t> bytes;  // what actually moved
    int result;            // libusb result code (0 or a negative LIBUSB_ERROR_*)
    bool in() const { return (endpoint & 0x80) != 0; }
};

struct BusCycle {
    Mark seq;
    int chip;          // chip position 0 or 1
    uint32_t address;  // as driven by the firmware, before the chip wraps it
    uint8_t value;     // written, or read back
    bool write;
    bool fromHost;     // a raw write command from the host (not the firmware's own programming)
};

struct Counters {
    uint64_t transfers = 0;     // every bulk transfer that reached the device's endpoints
    uint64_t outTransfers = 0;
    uint64_t inTransfers = 0;
    uint64_t timeouts = 0;      // transfers that ended in LIBUSB_ERROR_TIMEOUT
    uint64_t commands = 0;      // command messages the firmware handled
    uint64_t busCycles = 0;
    uint64_t busReads = 0;
    uint64_t busWrites = 0;
    uint64_t bytesProgrammed = 0;  // bytes the chips actually programmed
    uint64_t chipErases = 0;       // chip-erase commands the chips accepted
    uint64_t blockErases = 0;      // block-erase commands the chips accepted
};

std::string describe(const Transfer& t);
std::string describe(const BusCycle& c);

}  // namespace sim
