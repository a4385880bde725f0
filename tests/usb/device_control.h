// The emulated linker's side of a test: requests to the launcher that
// runs this test (its control socket), and what the device saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sends one request; returns the launcher's whole reply. Fails the test
// unless the last line is "ok...".
std::string deviceRequest(const std::string& line);

struct SeenTransfer {
    uint8_t endpoint = 0;
    int requested = 0;
    int result = 0;  // libusb's code for how it ended
    std::vector<uint8_t> bytes;
};
uint64_t deviceMark();
std::vector<SeenTransfer> transfersSince(uint64_t mark);
int deviceLed();

// What the log shows for a transfer to a linker that has gone.
extern const std::vector<std::string> kNoDeviceLines;
