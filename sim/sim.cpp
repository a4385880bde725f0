#include "sim.h"

#include "cartridges.h"
#include "firmware.h"
#include "sim_internal.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <limits>

namespace sim {

namespace {

constexpr uint64_t NEVER = std::numeric_limits<uint64_t>::max();
constexpr size_t DEFAULT_TRACE_LIMIT = 1u << 20;

struct PlannedFault {
    uint64_t at;  // absolute transfer number
    TransferFault kind;
    int shortLength;
    uint8_t code;
};

struct Device {
    Bus bus;
    Firmware firmware{bus};
    std::string cart = "official16";

    bool plugged = true;
    int address = 2;  // the root hub is 1
    std::vector<std::pair<double, bool>> plugPlan;  // modelled time, in; soonest first
    std::vector<PlugChange> plugChanges;
    void (*plugNotify)() = nullptr;
    bool hotplugOffered = true;
    bool hotplugFails = false;
    int configError = 0;
    int claimError = 0;
    int configFailures = -1;  // calls still to fail; negative: all of them
    int claimFailures = -1;
    int deniedAddress = 0;  // none: the root hub is 1
    int listError = 0;
    std::vector<PlannedFault> planned;
    bool wrongCodeCarried = false;
    uint8_t carriedCode = 0;
    uint64_t unplugAt = NEVER;

    Mark seq = 0;
    size_t traceLimit = DEFAULT_TRACE_LIMIT;
    std::deque<Transfer> transfers;
    std::deque<BusCycle> cycles;
    Mark droppedTransfers = 0;  // every entry with seq below this may be gone
    Mark droppedCycles = 0;
    Counters counters;
    Counters chipBase;  // chip counters of chips since replaced

    std::string statePath;
    bool dirty = false;
};

bool g_configured = false;

Device& dev()
{
    static Device* d = [] {
        Device* nd = new Device();  // lives for the process; the libusb calls may outlive statics
        return nd;
    }();
    return *d;
}

void observe(const BusCycle& c)
{
    Device& d = dev();
    BusCycle e = c;
    e.seq = d.seq++;
    ++d.counters.busCycles;
    if (e.write) {
        ++d.counters.busWrites;
        d.dirty = true;
    } else {
        ++d.counters.busReads;
    }
    d.cycles.push_back(e);
    while (d.cycles.size() > d.traceLimit) {
        d.droppedCycles = d.cycles.front().seq + 1;
        d.cycles.pop_front();
    }
}

void retireChips()
{
    Device& d = dev();
    for (FlashChip& c : d.bus.chips) {
        d.chipBase.bytesProgrammed += c.bytesProgrammed();
        d.chipBase.chipErases += c.chipErases();
        d.chipBase.blockErases += c.blockErases();
    }
}

void attachObserver()
{
    dev().bus.setObserver(observe);
}

}  // namespace

std::string describe(const Transfer& t)
{
    char head[96];
    snprintf(head, sizeof head, "#%llu %s ep 0x%02X len %d result %d:", static_cast<unsigned long long>(t.seq),
             t.in() ? "IN " : "OUT", t.endpoint, t.requested, t.result);
    std::string s = head;
    for (uint8_t b : t.bytes) {
        char hex[4];
        snprintf(hex, sizeof hex, " %02X", b);
        s += hex;
    }
    return s;
}

std::string describe(const BusCycle& c)
{
    char line[96];
    snprintf(line, sizeof line, "#%llu chip %d %s 0x%06X = 0x%02X%s", static_cast<unsigned long long>(c.seq),
             c.chip, c.write ? "W" : "R", c.address, c.value, c.fromHost ? " (host)" : "");
    return line;
}

void reset()
{
    Device& d = dev();
    // The transport stays: it keeps being told of plug changes, and a handle
    // it opened before never matches the fresh device's address.
    void (*notify)() = d.plugNotify;
    int address = d.address;
    d.~Device();
    new (&d) Device();
    d.plugNotify = notify;
    d.address = address + 1;
    attachObserver();
    buildCartridge(d.cart, d.bus.chips);
    resetClock();
    resetCosts();
    setPacing(false);
    g_configured = true;
}

bool configured()
{
    return g_configured;
}

void readEnvironmentAtNextInit()
{
    g_configured = false;
}

bool insertCart(const std::string& name)
{
    Device& d = dev();
    retireChips();
    d.cart = name;
    bool known = buildCartridge(name, d.bus.chips);
    if (!known)
        d.cart = "none";
    d.bus.powerOn();
    d.dirty = true;
    return known;
}

std::string cartName()
{
    return dev().cart;
}

std::vector<std::string> cartNames()
{
    std::vector<std::string> names;
    for (const CartridgeInfo& c : cartridgeCatalogue())
        names.push_back(c.name);
    return names;
}

void setFirmware(int major, int minor)
{
    dev().firmware.setVersion(static_cast<uint8_t>(major), static_cast<uint8_t>(minor));
}

uint8_t ledSetting()
{
    return dev().firmware.led();
}

// ---- The cable ---------------------------------------------------------------

static void plugChanged(bool in)
{
    Device& d = dev();
    d.plugged = in;
    // Power comes and goes with the cable: a half-received command and the
    // packets queued for the host are lost, and the chips come up reading.
    d.firmware.restart();
    if (in) {
        d.address++;
        d.bus.powerOn();
    }
    d.plugChanges.push_back({in, d.address});
    if (d.plugNotify)
        d.plugNotify();
}

void unplugNow()
{
    Device& d = dev();
    d.unplugAt = NEVER;
    if (d.plugged)
        plugChanged(false);
}

void plugInNow()
{
    if (!dev().plugged)
        plugChanged(true);
}

void plugAt(double seconds, bool in)
{
    auto& plan = dev().plugPlan;
    auto at = std::upper_bound(plan.begin(), plan.end(), seconds,
                               [](double s, const std::pair<double, bool>& e) { return s < e.first; });
    plan.insert(at, {seconds, in});
}

bool pluggedIn()
{
    Device& d = dev();
    if (d.plugged && d.unplugAt != NEVER && d.counters.transfers >= d.unplugAt)
        unplugNow();
    while (!d.plugPlan.empty() && d.plugPlan.front().first <= clockSeconds()) {
        bool in = d.plugPlan.front().second;
        d.plugPlan.erase(d.plugPlan.begin());
        in ? plugInNow() : unplugNow();
    }
    return d.plugged;
}

int usbAddress()
{
    return dev().address;
}

double nextPlugEvent()
{
    const auto& plan = dev().plugPlan;
    return plan.empty() ? std::numeric_limits<double>::infinity() : plan.front().first;
}

std::vector<PlugChange> takePlugChanges()
{
    std::vector<PlugChange> changes;
    changes.swap(dev().plugChanges);
    return changes;
}

void onPlugChange(void (*notify)())
{
    dev().plugNotify = notify;
}

void offerHotplug(bool offered)
{
    dev().hotplugOffered = offered;
}

bool hotplugOffered()
{
    return dev().hotplugOffered;
}

void failHotplugRegistration(bool fails)
{
    dev().hotplugFails = fails;
}

bool hotplugRegistrationFails()
{
    return dev().hotplugFails;
}

// ---- Faults ----------------------------------------------------------------

static void plan(int n, TransferFault kind, int shortLength = 0, uint8_t code = 0)
{
    Device& d = dev();
    if (n < 1)
        return;
    d.planned.push_back({d.counters.transfers + static_cast<uint64_t>(n), kind, shortLength, code});
}

void noDevice()
{
    // Never there in the first place: nothing arrives, nothing leaves.
    dev().plugged = false;
}

void denyAccess()
{
    Device& d = dev();
    d.deniedAddress = d.plugged ? d.address : d.address + 1;
}

void failSetConfiguration(int code, int times)
{
    dev().configError = code;
    dev().configFailures = times;
}

void failClaimInterface(int code, int times)
{
    dev().claimError = code;
    dev().claimFailures = times;
}

void failDeviceList(int code)
{
    dev().listError = code;
}

void timeoutOnTransfer(int n)
{
    plan(n, TransferFault::Timeout);
}

void shortPacketOnTransfer(int n, int length)
{
    if (length < 0)
        length = 0;
    if (length > 63)
        length = 63;
    plan(n, TransferFault::Short, length);
}

void wrongCodeOnTransfer(int n, uint8_t code)
{
    plan(n, TransferFault::WrongCode, 0, code);
}

void unplugAfterTransfers(int n)
{
    Device& d = dev();
    d.unplugAt = d.counters.transfers + static_cast<uint64_t>(n < 0 ? 0 : n);
}

void chipIgnoresErase(int position)
{
    chip(position).setIgnoresErase(true);
}

void chipEraseNeverEnds(int position)
{
    chip(position).setEraseNeverEnds(true);
}

void byteNeverPrograms(int position, uint32_t chipAddress)
{
    chip(position).addStuckByte(chipAddress);
}

void misreadOnce(uint32_t cartAddress, int nth)
{
    dev().bus.misreadOnce(cartAddress > 0x1FFFFF ? 1 : 0, cartAddress, nth);
}

void neverReadsTrue(uint32_t cartAddress)
{
    dev().bus.neverSettles(cartAddress > 0x1FFFFF ? 1 : 0, cartAddress);
}

void clearFaults()
{
    Device& d = dev();
    if (!d.plugged) {
        d.plugged = true;
        d.address++;
    }
    d.configError = 0;
    d.claimError = 0;
    d.deniedAddress = 0;
    d.listError = 0;
    d.planned.clear();
    d.wrongCodeCarried = false;
    d.unplugAt = NEVER;
    d.bus.cleanContacts();
    d.bus.chips[0].clearFaults();
    d.bus.chips[1].clearFaults();
}

// ---- Cartridge -----------------------------------------------------------------

FlashChip& chip(int position)
{
    return dev().bus.chips[position & 1];
}

uint8_t cartPeek(uint32_t cartAddress)
{
    return chip(cartAddress > 0x1FFFFF ? 1 : 0).peek(cartAddress & 0x1FFFFF);
}

void cartPoke(uint32_t cartAddress, uint8_t value)
{
    chip(cartAddress > 0x1FFFFF ? 1 : 0).poke(cartAddress & 0x1FFFFF, value);
    dev().dirty = true;
}

std::vector<uint8_t> cartImage()
{
    std::vector<uint8_t> image;
    FlashChip& c0 = chip(0);
    FlashChip& c1 = chip(1);
    if (!c1.present()) {
        if (c0.present())
            image = c0.contents();
        return image;
    }
    image.resize(0x200000 + c1.size());
    for (uint32_t a = 0; a < 0x200000; ++a)
        image[a] = c0.present() ? c0.peek(a) : 0xFF;
    std::copy(c1.contents().begin(), c1.contents().end(), image.begin() + 0x200000);
    return image;
}

void loadImage(const std::vector<uint8_t>& image)
{
    for (size_t a = 0; a < image.size() && a < 0x400000; ++a)
        cartPoke(static_cast<uint32_t>(a), image[a]);
}

void setEraseTimes(double block, double chip16)
{
    costs().blockErase = block;
    costs().chipErase16 = chip16;
}

// ---- Observation -------------------------------------------------------------

Mark mark()
{
    return dev().seq;
}

std::vector<Transfer> transfersSince(Mark m)
{
    std::vector<Transfer> out;
    for (const Transfer& t : dev().transfers)
        if (t.seq >= m)
            out.push_back(t);
    return out;
}

std::vector<BusCycle> busCyclesSince(Mark m)
{
    std::vector<BusCycle> out;
    const std::deque<BusCycle>& cycles = dev().cycles;
    // Newest at the back: find where `m` starts without walking a million entries.
    auto it = std::lower_bound(cycles.begin(), cycles.end(), m,
                               [](const BusCycle& c, Mark v) { return c.seq < v; });
    out.assign(it, cycles.end());
    return out;
}

std::vector<BusCycle> busWritesSince(Mark m)
{
    std::vector<BusCycle> out;
    for (const BusCycle& c : busCyclesSince(m))
        if (c.write)
            out.push_back(c);
    return out;
}

std::vector<BusCycle> hostWritesSince(Mark m)
{
    std::vector<BusCycle> out;
    for (const BusCycle& c : busCyclesSince(m))
        if (c.write && c.fromHost)
            out.push_back(c);
    return out;
}

Counters counters()
{
    Device& d = dev();
    Counters c = d.counters;
    c.commands = d.firmware.commands();
    c.bytesProgrammed = d.chipBase.bytesProgrammed;
    c.chipErases = d.chipBase.chipErases;
    c.blockErases = d.chipBase.blockErases;
    for (FlashChip& ch : d.bus.chips) {
        ch.busy(clockSeconds());  // a finished program counts once it has finished
        c.bytesProgrammed += ch.bytesProgrammed();
        c.chipErases += ch.chipErases();
        c.blockErases += ch.blockErases();
    }
    return c;
}

size_t pendingPackets()
{
    return dev().firmware.pendingCount();
}

bool traceTruncatedSince(Mark m)
{
    return m < dev().droppedCycles || m < dev().droppedTransfers;
}

void setTraceLimit(size_t entries)
{
    dev().traceLimit = entries ? entries : 1;
}

// ---- Transport -------------------------------------------------------------------

void hostSends(const uint8_t* data, int length)
{
    advanceClock(costs().packet);
    dev().firmware.receive(data, length);
}

bool devicePacketPending()
{
    return dev().firmware.pending();
}

int deviceNext(uint8_t* out64)
{
    Firmware::Out o;
    if (!dev().firmware.next(o))
        return -1;
    advanceClock(costs().packet);
    std::copy(o.data.begin(), o.data.begin() + o.length, out64);
    return o.length;
}

bool unplugged()
{
    return !pluggedIn();
}

TransferPlan beginTransfer(bool in)
{
    Device& d = dev();
    TransferPlan p;
    if (unplugged()) {
        p.fault = TransferFault::Gone;
        return p;
    }
    const uint64_t n = ++d.counters.transfers;
    ++(in ? d.counters.inTransfers : d.counters.outTransfers);
    for (auto it = d.planned.begin(); it != d.planned.end(); ++it) {
        if (it->at != n)
            continue;
        if (it->kind == TransferFault::WrongCode && !in) {
            d.wrongCodeCarried = true;
            d.carriedCode = it->code;
        } else {
            p.fault = it->kind;
            p.shortLength = it->shortLength;
            p.code = it->code;
        }
        d.planned.erase(it);
        break;
    }
    if (in && p.fault == TransferFault::None && d.wrongCodeCarried) {
        p.fault = TransferFault::WrongCode;
        p.code = d.carriedCode;
        d.wrongCodeCarried = false;
    }
    return p;
}

void recordTransfer(uint8_t endpoint, int requested, const uint8_t* bytes, int moved, int result)
{
    Device& d = dev();
    if (result == LIBUSB_ERROR_TIMEOUT)
        ++d.counters.timeouts;
    Transfer t;
    t.seq = d.seq++;
    t.time = clockSeconds();
    t.endpoint = endpoint;
    t.requested = requested;
    if (bytes && moved > 0)
        t.bytes.assign(bytes, bytes + moved);
    t.result = result;
    d.transfers.push_back(std::move(t));
    while (d.transfers.size() > d.traceLimit) {
        d.droppedTransfers = d.transfers.front().seq + 1;
        d.transfers.pop_front();
    }
    pace();
}

bool deviceAbsent()
{
    return !pluggedIn();
}

namespace {

// The error a call meets while it has failures left to give.
int failing(int code, int* left)
{
    if (!code || *left == 0)
        return 0;
    if (*left > 0)
        --*left;
    return code;
}

}  // namespace

int openResult(int address)
{
    return address == dev().deniedAddress ? LIBUSB_ERROR_ACCESS : 0;
}

int setConfigurationResult()
{
    return failing(dev().configError, &dev().configFailures);
}

int claimInterfaceResult()
{
    return failing(dev().claimError, &dev().claimFailures);
}

int deviceListResult()
{
    return dev().listError;
}

void usbReset()
{
    dev().firmware.restart();
}

namespace detail {

void replaceCartridge(const std::string& name, FlashChip chips[2])
{
    Device& d = dev();
    retireChips();
    d.cart = name;
    d.bus.chips[0] = std::move(chips[0]);
    d.bus.chips[1] = std::move(chips[1]);
    d.bus.powerOn();
}

void markClean()
{
    dev().dirty = false;
}

}  // namespace detail

// ---- State file bookkeeping ---------------------------------------------------------

void setStateFile(const std::string& path)
{
    dev().statePath = path;
}

std::string stateFile()
{
    return dev().statePath;
}

void saveStateIfChanged()
{
    Device& d = dev();
    if (d.statePath.empty() || !d.dirty)
        return;
    if (saveState(d.statePath))
        d.dirty = false;
    else
        fprintf(stderr, "pockettetherbox-sim: could not save the cartridge to %s\n", d.statePath.c_str());
}

}  // namespace sim
