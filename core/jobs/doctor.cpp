// "doctor": the chain from this program to the cartridge, one line per link,
// with what to do where one fails. It runs whatever the link's opening found,
// since saying why no linker could be used is half its point.
#include <libusb.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/cart/detect.h"
#include "core/cart/read.h"
#include "core/identity/header.h"
#include "core/jobs/jobs.h"
#include "core/link/linker.h"
#include "core/link/transfer.h"
#include "core/report.h"
#include "version.h"

namespace {

// The contacts' test: the header and the first 64 KiB of chip 0, read twice.
constexpr uint32_t CONTACTS_BYTES = 0x10000;
const char* const REPLUG = "Unplug the linker and plug it in again.";
const char* const RESEAT = "Reseat the cartridge; clean its contacts.";

bool isFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Lines that only matter when the step that said them failed: a probe's
// transfer errors explain its failure, its findings are the doctor's to say.
class Kept : public Reporter {
public:
    explicit Kept(Reporter& to) : to_(to) {}
    void line(const char* text) override { lines.push_back(text); }
    bool goingOn() override { return to_.goingOn(); }
    void breathe() override { to_.breathe(); }
    void passOn()
    {
        for (const std::string& l : lines)
            to_.line(l.c_str());
        lines.clear();
    }
    std::vector<std::string> lines;

private:
    Reporter& to_;
};

// Why the linker the bus shows is not ours to use, and what to do; false
// while it is.
bool saidNoAccess(Reporter& r, const Linker& link)
{
    OpenFailure f = link.failure();
    if (!f.error)
        return false;
    const char* name = libusb_error_name(f.error);
    if (link.state() == LinkState::NotOurs) {
        printWindow(r, "Access: this user may not open it (%s).", name);
        printWindow(r, "Install the udev rule (see the README) and plug it in again.");
    } else if (link.state() == LinkState::Busy) {
        printWindow(r, "Access: in use by another program (%s).", name);
        printWindow(r, "Close it, then plug the linker in again.");
    } else {
        printWindow(r, "Access: %s failed (%s).", f.call, name);
        printWindow(r, "%s", REPLUG);
    }
    return true;
}

// Chip 0's first 64 KiB; false (its errors logged) when a read failed.
bool readStart(Link& link, std::vector<uint8_t>* bytes)
{
    bytes->assign(CONTACTS_BYTES, 0);
    return readCartInto(link, 0, CONTACTS_BYTES, bytes->data());
}

// The first address at which two reads differ; false when none does.
bool firstDifference(const uint8_t* a, const uint8_t* b, size_t length, uint32_t* at)
{
    for (size_t i = 0; i < length; i++)
        if (a[i] != b[i])
            return *at = uint32_t(i), true;
    return false;
}

// The cartridge: chips, header, contacts. False at the first that fails.
bool checkCartridge(Job& job)
{
    Reporter& r = job.r;
    Kept probe(r);
    bool clean = false;
    Cart& cart = job.cart;
    {
        Job quiet(job.link, probe);
        clean = checkCart(probe, quiet.link, &cart, nullptr, nullptr, nullptr, false, false);
    }
    if (!clean) {
        printWindow(r, "Chips: the probe failed:");
        probe.passOn();
        printWindow(r, "%s", REPLUG);
        return false;
    }
    if (cart.megabits() == 0) {
        printWindow(r, "Chips: none answers.");
        printWindow(r, "%s", RESEAT);
        return false;
    }
    for (int chip = 0; chip < 2; chip++) {
        if (cart.chipSize[chip] == 0)
            printWindow(r, "Chip %d: no answer%s.", chip, chip == 0 ? "" : " (a cartridge of one chip)");
        else
            printWindow(r, "Chip %d: maker 0x%02X, device 0x%02X, %d Mbit.", chip, cart.manufID[chip],
                           cart.deviceID[chip], cart.chipSize[chip]);
    }
    if (cart.chipSize[0] == 0) {
        printWindow(r, "%s", RESEAT);
        return false;
    }

    uint8_t header[CART_HEADER_SIZE];
    std::vector<uint8_t> first, second;
    bool read = false;
    {
        Job quiet(job.link, probe);
        const uint8_t* h = quiet.link.read_64_bytes(0, 0);
        if (h)
            memcpy(header, h, sizeof header);
        read = h && readStart(quiet.link, &first) && readStart(quiet.link, &second);
    }
    if (!read) {
        printWindow(r, "Contacts: a read failed:");
        probe.passOn();
        printWindow(r, "%s", REPLUG);
        return false;
    }
    CartHeader decoded = decodeHeader(header, sizeof header);
    if (decoded.licensed) {
        printWindow(r, "Header: licence text '%s'.", decoded.licence.c_str());
    } else {
        printWindow(r, "Header: no valid licence text (a blank or");
        printWindow(r, "home-made cartridge, or dirty contacts).");
    }

    uint32_t at = 0;
    bool unstable = firstDifference(header, first.data(), sizeof header, &at) ||
                    firstDifference(first.data(), second.data(), first.size(), &at);
    if (unstable) {
        printWindow(r, "Contacts: unstable; reads differ at 0x%06X.", at);
        printWindow(r, "Clean the cartridge's contacts and run again.");
        return false;
    }
    printWindow(r, "Contacts: header and 64 KiB read alike twice.");
    return true;
}

}  // namespace

std::vector<std::string> udevRuleFolders()
{
    // Where udev reads rules from, the place this build installs to first.
    return {PTB_UDEV_RULES_DIR, "/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
            "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

bool doctor(Job& job, const std::vector<std::string>& ruleFolders)
{
    Reporter& r = job.r;
    bool holds = true;
    const libusb_version* v = libusb_get_version();
    printWindow(r, "libusb: version %u.%u.%u.%u%s.", v->major, v->minor, v->micro, v->nano, v->rc);

    std::string rule;
    for (const std::string& folder : ruleFolders)
        if (rule.empty() && isFile(folder + "/" + PTB_UDEV_RULE))
            rule = folder + "/" + PTB_UDEV_RULE;
    if (!rule.empty()) {
        printWindow(r, "udev rule: %s.", rule.c_str());
    } else {
        printWindow(r, "udev rule: %s is in none of udev's folders.", PTB_UDEV_RULE);
        printWindow(r, "Install it (see the README), then replug.");
        holds = false;
    }

    Linker& link = linker();
    std::vector<Linker::Identity> there;
    if (link.state() == LinkState::Closed) {
        printWindow(r, "libusb: it could not start.");
        printWindow(r, "Check that this system has USB (/dev/bus/usb).");
        return false;
    }
    if (!link.linkersOnTheBus(&there)) {
        printWindow(r, "Linker: the USB bus could not be listed.");
        printWindow(r, "%s", REPLUG);
        return false;
    }
    if (there.empty()) {
        printWindow(r, "Linker: none on the bus.");
        printWindow(r, "Plug it in, with a cable that carries data.");
        return false;
    }
    for (const Linker::Identity& at : there)
        printWindow(r, "Linker: bus %d, address %d.", at.bus, at.address);
    if (there.size() > 1) {
        Linker::Identity used = link.current();
        printWindow(r, "Below: the linker at bus %d, address %d.", used.bus, used.address);
    }

    if (saidNoAccess(r, link))
        return false;
    uint8_t major = 0, minor = 0;
    if (!link.firmware(&major, &minor)) {
        if (link.state() == LinkState::Refused)
            printWindow(r, "Firmware: no answer to the version request.");
        else
            printWindow(r, "Access: not tried yet.");
        printWindow(r, "%s", REPLUG);
        return false;
    }
    printWindow(r, "Access: this user may open it.");
    if (major != FIRMWARE_MAJOR || minor != FIRMWARE_MINOR) {
        printWindow(r, "Firmware: v%d.%02d, where v%d.%02d is needed.", major, minor, FIRMWARE_MAJOR, FIRMWARE_MINOR);
        printWindow(r, "Install that firmware on the linker.");
        return false;
    }
    printWindow(r, "Firmware: v%d.%02d.", major, minor);
    if (!link.ready() || link.link().gone()) {
        printWindow(r, "The linker is gone. Plug it in again.");
        return false;
    }
    if (!checkCartridge(job))
        return false;
    if (holds)
        printWindow(r, "Every link holds.");
    return holds;
}
