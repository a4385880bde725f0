// The demo's configuration: cartridge, firmware version, faults, state file
// and pacing, taken from the environment when the program initialises USB.
#include "sim.h"

#include <libusb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace sim {

namespace {

bool parseNumber(const std::string& text, long min, long max, long* out, int base = 0)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

struct ErrorName {
    const char* name;
    int code;
};

const ErrorName kErrors[] = {
    {"LIBUSB_ERROR_IO", LIBUSB_ERROR_IO},
    {"LIBUSB_ERROR_INVALID_PARAM", LIBUSB_ERROR_INVALID_PARAM},
    {"LIBUSB_ERROR_ACCESS", LIBUSB_ERROR_ACCESS},
    {"LIBUSB_ERROR_NO_DEVICE", LIBUSB_ERROR_NO_DEVICE},
    {"LIBUSB_ERROR_NOT_FOUND", LIBUSB_ERROR_NOT_FOUND},
    {"LIBUSB_ERROR_BUSY", LIBUSB_ERROR_BUSY},
    {"LIBUSB_ERROR_TIMEOUT", LIBUSB_ERROR_TIMEOUT},
    {"LIBUSB_ERROR_OVERFLOW", LIBUSB_ERROR_OVERFLOW},
    {"LIBUSB_ERROR_PIPE", LIBUSB_ERROR_PIPE},
    {"LIBUSB_ERROR_INTERRUPTED", LIBUSB_ERROR_INTERRUPTED},
    {"LIBUSB_ERROR_NO_MEM", LIBUSB_ERROR_NO_MEM},
    {"LIBUSB_ERROR_NOT_SUPPORTED", LIBUSB_ERROR_NOT_SUPPORTED},
    {"LIBUSB_ERROR_OTHER", LIBUSB_ERROR_OTHER},
};

// A libusb error by name (BUSY, LIBUSB_ERROR_BUSY) or number (-6).
bool parseError(const std::string& text, int* out)
{
    if (text.empty()) {
        *out = LIBUSB_ERROR_BUSY;
        return true;
    }
    std::string name = text.compare(0, 13, "LIBUSB_ERROR_") == 0 ? text : "LIBUSB_ERROR_" + text;
    for (const ErrorName& e : kErrors) {
        if (name == e.name) {
            *out = e.code;
            return true;
        }
    }
    long v;
    if (parseNumber(text, -99, -1, &v)) {
        *out = static_cast<int>(v);
        return true;
    }
    return false;
}

bool applyOne(const std::string& item, std::string* error)
{
    // name, name:arg, name@n or name@n:arg
    std::string name = item, at, arg;
    size_t p = name.find_first_of("@:");
    if (p != std::string::npos) {
        std::string rest = name.substr(p);
        name = name.substr(0, p);
        if (rest[0] == '@') {
            size_t colon = rest.find(':');
            at = rest.substr(1, colon == std::string::npos ? std::string::npos : colon - 1);
            if (colon != std::string::npos)
                arg = rest.substr(colon + 1);
        } else {
            arg = rest.substr(1);
        }
    }
    long n = 0, v = 0;
    int code = 0;
    bool ok = false;
    if (name == "nodevice" || name == "noaccess" || name == "nohotplug" || name == "hotplugfail") {
        ok = at.empty() && arg.empty();
        if (ok && name == "nodevice")
            noDevice();
        else if (ok && name == "noaccess")
            denyAccess();
        else if (ok)
            name == "nohotplug" ? offerHotplug(false) : failHotplugRegistration(true);
    } else if (name == "config" || name == "claim") {
        n = -1;  // every call
        ok = (at.empty() || parseNumber(at, 1, 1L << 30, &n)) && parseError(arg, &code);
        if (ok)
            name == "config" ? failSetConfiguration(code, static_cast<int>(n))
                             : failClaimInterface(code, static_cast<int>(n));
    } else if (name == "timeout" || name == "unplug") {
        ok = parseNumber(at, name == "unplug" ? 0 : 1, 1L << 40, &n) && arg.empty();
        if (ok)
            name == "timeout" ? timeoutOnTransfer(static_cast<int>(n)) : unplugAfterTransfers(static_cast<int>(n));
    } else if (name == "short") {
        v = 32;
        ok = parseNumber(at, 1, 1L << 40, &n) && (arg.empty() || parseNumber(arg, 0, 63, &v));
        if (ok)
            shortPacketOnTransfer(static_cast<int>(n), static_cast<int>(v));
    } else if (name == "badcode") {
        v = 0xEE;
        ok = parseNumber(at, 1, 1L << 40, &n) && (arg.empty() || parseNumber(arg, 0, 255, &v));
        if (ok)
            wrongCodeOnTransfer(static_cast<int>(n), static_cast<uint8_t>(v));
    } else if (name == "noerase" || name == "stuckerase") {
        ok = at.empty() && parseNumber(arg, 0, 1, &v);
        if (ok)
            name == "noerase" ? chipIgnoresErase(static_cast<int>(v)) : chipEraseNeverEnds(static_cast<int>(v));
    } else if (name == "stuckbyte") {
        ok = at.empty() && parseNumber(arg, 0, 0x3FFFFF, &v);
        if (ok)
            byteNeverPrograms(v > 0x1FFFFF ? 1 : 0, static_cast<uint32_t>(v) & 0x1FFFFF);
    } else if (name == "misread") {
        n = 1;
        ok = (at.empty() || parseNumber(at, 1, 1L << 30, &n)) && parseNumber(arg, 0, 0x3FFFFF, &v);
        if (ok)
            misreadOnce(static_cast<uint32_t>(v), static_cast<int>(n));
    } else if (name == "flaky") {
        ok = at.empty() && parseNumber(arg, 0, 0x3FFFFF, &v);
        if (ok)
            neverReadsTrue(static_cast<uint32_t>(v));
    }
    if (!ok && error)
        *error = "PTB_SIM_FAULT: cannot understand '" + item + "'";
    return ok;
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Each non-empty item of a comma-separated list; false if any was refused
// (the first refusal's message is kept).
bool applyEach(const std::string& list, std::string* error, bool (*apply)(const std::string&, std::string*))
{
    bool ok = true;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        // Tolerate spaces around items.
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (!item.empty() && !apply(item, ok ? error : nullptr))
            ok = false;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return ok;
}

// in@SECONDS or out@SECONDS, on the modelled clock.
bool applyPlugOne(const std::string& item, std::string* error)
{
    size_t at = item.find('@');
    std::string name = item.substr(0, at);
    double seconds = -1;
    if (at != std::string::npos) {
        char* end = nullptr;
        std::string number = item.substr(at + 1);
        seconds = strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0')
            seconds = -1;
    }
    if ((name != "in" && name != "out") || !(seconds >= 0)) {
        if (error)
            *error = "PTB_SIM_PLUG: cannot understand '" + item + "'";
        return false;
    }
    plugAt(seconds, name == "in");
    return true;
}

}  // namespace

const char* errorName(int code)
{
    for (const ErrorName& e : kErrors)
        if (e.code == code)
            return e.name;
    return code == 0 ? "LIBUSB_SUCCESS" : "**UNKNOWN**";
}

bool applyFaults(const std::string& list, std::string* error)
{
    return applyEach(list, error, applyOne);
}

bool applyPlugEvents(const std::string& list, std::string* error)
{
    // A linker whose first event is its arrival is not there before it.
    size_t first = list.find_first_not_of(' ');
    if (first != std::string::npos && list.compare(first, 3, "in@") == 0)
        noDevice();
    return applyEach(list, error, applyPlugOne);
}

bool configureFromEnvironment(std::string* error)
{
    reset();
    bool ok = true;
    auto fail = [&](const std::string& message) {
        if (ok && error)
            *error = message;
        ok = false;
    };

    const char* cart = getenv("PTB_SIM_CART");
    const char* state = getenv("PTB_SIM_STATE");
    const char* firmware = getenv("PTB_SIM_FIRMWARE");
    const char* fault = getenv("PTB_SIM_FAULT");
    const char* pace = getenv("PTB_SIM_PACE");
    const char* plug = getenv("PTB_SIM_PLUG");

    if (cart && *cart && !insertCart(cart))
        fail(std::string("PTB_SIM_CART: no cartridge called '") + cart + "'");

    if (state && *state) {
        setStateFile(state);
        // The state file holds the cartridge last used. Naming another one
        // means plugging that one in instead, fresh.
        if (fileExists(state)) {
            std::string chosen = cartName();
            if (!loadState(state)) {
                // Never overwrite a file we could not read: it may be someone's.
                setStateFile("");
                fail(std::string("PTB_SIM_STATE: '") + state + "' is not a simulator state file");
            }
            else if (cart && *cart && chosen != cartName())
                insertCart(chosen);
        }
    }

    if (firmware && *firmware) {
        std::string text = firmware;
        size_t dot = text.find('.');
        long major = -1, minor = -1;
        if (dot == std::string::npos || text.find_first_not_of("0123456789.") != std::string::npos ||
            !parseNumber(text.substr(0, dot), 0, 255, &major, 10) ||
            !parseNumber(text.substr(dot + 1), 0, 255, &minor, 10))
            fail(std::string("PTB_SIM_FIRMWARE: expected major.minor such as 0.13, not '") + firmware + "'");
        else
            setFirmware(static_cast<int>(major), static_cast<int>(minor));
    }

    if (fault && *fault) {
        std::string message;
        if (!applyFaults(fault, &message))
            fail(message);
    }

    if (plug && *plug) {
        std::string message;
        if (!applyPlugEvents(plug, &message))
            fail(message);
    }

    if (pace && strcmp(pace, "1") == 0)
        setPacing(true);
    return ok;
}

}  // namespace sim
