#include "device_control.h"

#include "control_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

const std::vector<std::string> kNoDeviceLines = {"", "Error: LIBUSB_ERROR_NO_DEVICE",
                                                 "No such device (it may have been disconnected)."};

std::string deviceRequest(const std::string& line)
{
    const char* path = getenv("PTB_USB_CONTROL");
    if (!path) {
        ADD_FAILURE() << "not running under usb_launcher";
        return "";
    }
    std::string reply;
    bool ok = usbdev::askLauncher(path, line, &reply);
    EXPECT_TRUE(ok) << "device request '" << line << "': " << reply;
    return reply;
}

uint64_t deviceMark()
{
    return std::strtoull(deviceRequest("mark").c_str() + 3, nullptr, 10);
}

std::vector<SeenTransfer> transfersSince(uint64_t mark)
{
    std::vector<SeenTransfer> seen;
    std::istringstream lines(deviceRequest("transfers " + std::to_string(mark)));
    std::string line;
    while (std::getline(lines, line) && line.compare(0, 2, "ok") != 0) {
        std::istringstream fields(line);
        SeenTransfer t;
        std::string endpoint, hex;
        fields >> endpoint >> t.requested >> t.result >> hex;
        t.endpoint = uint8_t(std::stoul(endpoint, nullptr, 16));
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            t.bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
        seen.push_back(t);
    }
    return seen;
}

int deviceLed()
{
    return atoi(deviceRequest("led").c_str() + 3);
}
