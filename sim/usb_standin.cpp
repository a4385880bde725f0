// The libusb-1.0 calls the program makes, answered by the simulated linker
// instead of a USB device. Types, constants and error codes are libusb's own,
// so the program's code links against this unchanged.
#include "sim.h"

#include <libusb.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

// The program's clock hook. The stand-in takes libusb's place inside the
// program and, on libusb_init, points the program's waits at the modelled
// clock; it knows the program by this one symbol, as it knows it by libusb's.
extern double (*g_linkClock)();

struct libusb_context {
    // Readable when plug changes wait to be handled (or, with pacing, when
    // the next planned one is due): the host's cue to handle events.
    int wakeFd = -1;
    struct Callback {
        libusb_hotplug_callback_handle handle;
        int events;
        libusb_hotplug_callback_fn fn;
        void* userData;
    };
    std::vector<Callback> callbacks;
    libusb_hotplug_callback_handle nextHandle = 1;
};

// One per time the linker was plugged in: a replugged linker is another
// device to libusb, at another address.
struct libusb_device {
    int address;
};

struct libusb_device_handle {
    bool claimed = false;
    int address = 0;
    libusb_context* ctx = nullptr;
};

namespace {

constexpr uint16_t TETHERBOX_VID = 0x20A0;
constexpr uint16_t TETHERBOX_PID = 0x4178;
constexpr uint8_t EP_OUT = 0x02;
constexpr uint8_t EP_IN = 0x81;
constexpr int MAX_PACKET = 64;
constexpr int CONFIGURATION = 1;
constexpr int INTERFACE = 0;

std::set<libusb_context*> g_contexts;
std::set<libusb_device_handle*> g_handles;
std::map<int, libusb_device> g_devices;  // by address; a map's nodes stay where they are

bool valid(libusb_device_handle* h)
{
    return h && g_handles.count(h) != 0;
}

// A handle opened before the cable was pulled stays dead after a replug.
bool gone(libusb_device_handle* h)
{
    return !sim::pluggedIn() || h->address != sim::usbAddress();
}

libusb_device* deviceAt(int address)
{
    return &g_devices.emplace(address, libusb_device{address}).first->second;
}

void arm(int fd, double seconds)
{
    if (fd < 0)
        return;
    itimerspec when{};
    if (seconds >= 0) {
        // A zero it_value would disarm the timer: "now" is one nanosecond.
        double whole = std::floor(seconds);
        when.it_value.tv_sec = static_cast<time_t>(whole);
        when.it_value.tv_nsec = std::max(1L, static_cast<long>((seconds - whole) * 1e9));
    }
    timerfd_settime(fd, 0, &when, nullptr);
}

// Wakes every context now: a plug change is waiting.
void wakeHosts()
{
    for (libusb_context* c : g_contexts)
        arm(c->wakeFd, 0);
}

// Hands queued plug changes to the callbacks registered for them, as the
// real library does whenever it handles events.
void deliverPlugChanges()
{
    sim::pluggedIn();
    for (const sim::PlugChange& change : sim::takePlugChanges()) {
        libusb_hotplug_event event =
            change.in ? LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED : LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        for (libusb_context* c : g_contexts) {
            std::vector<libusb_context::Callback> calls = c->callbacks;
            for (const auto& cb : calls)
                if ((cb.events & event) && cb.fn(c, deviceAt(change.address), event, cb.userData))
                    libusb_hotplug_deregister_callback(c, cb.handle);
        }
    }
    // With pacing, a planned change comes when the wall clock says so.
    double next = sim::nextPlugEvent();
    if (sim::pacing() && std::isfinite(next))
        for (libusb_context* c : g_contexts)
            arm(c->wakeFd, std::max(0.0, next - sim::clockSeconds()));
}

double waitSeconds(unsigned int timeoutMs)
{
    // libusb reads a time-out of 0 as "wait forever": on hardware that call
    // would hang; here it gives up after the longest wait the model knows.
    return timeoutMs ? timeoutMs / 1000.0 : sim::costs().endlessWait;
}

int finish(unsigned char endpoint, int length, const unsigned char* data, int moved, int* transferred,
           int result)
{
    if (transferred)
        *transferred = moved;
    sim::recordTransfer(endpoint, length, data, moved, result);
    return result;
}

int sendOut(unsigned char* data, int length, int* transferred, unsigned int timeout)
{
    sim::TransferPlan plan = sim::beginTransfer(false);
    switch (plan.fault) {
    case sim::TransferFault::Gone:
        return finish(EP_OUT, length, data, 0, transferred, LIBUSB_ERROR_NO_DEVICE);
    case sim::TransferFault::Timeout:
        // The device never took the packet.
        sim::advanceClock(waitSeconds(timeout));
        return finish(EP_OUT, length, data, 0, transferred, LIBUSB_ERROR_TIMEOUT);
    case sim::TransferFault::Short: {
        int sent = std::min(length, plan.shortLength);
        sim::hostSends(data, sent);
        return finish(EP_OUT, length, data, sent, transferred, 0);
    }
    default:
        break;
    }
    // Bulk OUT goes as max-size packets and a shorter last one, if any.
    int sent = 0;
    do {
        int n = std::min(MAX_PACKET, length - sent);
        sim::hostSends(data + sent, n);
        sent += n;
    } while (sent < length);
    return finish(EP_OUT, length, data, sent, transferred, 0);
}

int receiveIn(unsigned char* data, int length, int* transferred, unsigned int timeout)
{
    sim::TransferPlan plan = sim::beginTransfer(true);
    if (plan.fault == sim::TransferFault::Gone)
        return finish(EP_IN, length, data, 0, transferred, LIBUSB_ERROR_NO_DEVICE);
    if (plan.fault == sim::TransferFault::Timeout) {
        // The packet is late, not lost: it stays queued for the next receive.
        sim::advanceClock(waitSeconds(timeout));
        return finish(EP_IN, length, data, 0, transferred, LIBUSB_ERROR_TIMEOUT);
    }
    int moved = 0;
    bool first = true;
    while (moved < length) {
        if (!sim::devicePacketPending()) {
            sim::advanceClock(waitSeconds(timeout));
            return finish(EP_IN, length, data, moved, transferred, LIBUSB_ERROR_TIMEOUT);
        }
        unsigned char packet[MAX_PACKET];
        int n = sim::deviceNext(packet);
        if (first && plan.fault == sim::TransferFault::Short)
            n = std::min(n, plan.shortLength);
        if (first && plan.fault == sim::TransferFault::WrongCode && n > 0)
            packet[0] = plan.code;
        first = false;
        if (n > length - moved) {
            // More arrived than the buffer holds: libusb calls that babble.
            std::copy(packet, packet + (length - moved), data + moved);
            return finish(EP_IN, length, data, length, transferred, LIBUSB_ERROR_OVERFLOW);
        }
        std::copy(packet, packet + n, data + moved);
        moved += n;
        if (n < MAX_PACKET)
            break;  // a short packet ends the transfer
    }
    return finish(EP_IN, length, data, moved, transferred, 0);
}

}  // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx)
{
    if (!sim::configured()) {
        std::string error;
        if (!sim::configureFromEnvironment(&error)) {
            // A mistyped setting must not quietly run another scenario.
            fprintf(stderr, "pockettetherbox-sim: %s\n", error.c_str());
            return LIBUSB_ERROR_OTHER;
        }
    }
    g_linkClock = sim::clockSeconds;
    sim::onPlugChange(wakeHosts);
    if (ctx) {
        *ctx = new libusb_context();
        (*ctx)->wakeFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        g_contexts.insert(*ctx);
        deliverPlugChanges();
    }
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx)
{
    sim::saveStateIfChanged();
    if (ctx && g_contexts.erase(ctx)) {
        if (ctx->wakeFd >= 0)
            close(ctx->wakeFd);
        delete ctx;
    }
}

const char* LIBUSB_CALL libusb_error_name(int errcode)
{
    return sim::errorName(errcode);
}

// The library the stand-in takes the place of, as its header describes it.
const libusb_version* LIBUSB_CALL libusb_get_version(void)
{
    static const libusb_version standIn = {1, 0, 0, 0, " (simulated)", "pockettetherbox-sim"};
    return &standIn;
}

int LIBUSB_CALL libusb_has_capability(uint32_t capability)
{
    return capability == LIBUSB_CAP_HAS_HOTPLUG ? sim::hotplugOffered() : 0;
}

int LIBUSB_CALL libusb_hotplug_register_callback(libusb_context* ctx, int events, int flags, int vendor_id,
                                                 int product_id, int dev_class, libusb_hotplug_callback_fn cb_fn,
                                                 void* user_data, libusb_hotplug_callback_handle* callback_handle)
{
    if (!sim::hotplugOffered())
        return LIBUSB_ERROR_NOT_SUPPORTED;
    if (!ctx || !g_contexts.count(ctx) || !cb_fn || !events)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (sim::hotplugRegistrationFails())
        return LIBUSB_ERROR_NO_MEM;
    // Only the linker is ever on this bus; a filter for anything else hears nothing.
    bool matches = (vendor_id == LIBUSB_HOTPLUG_MATCH_ANY || vendor_id == TETHERBOX_VID) &&
                   (product_id == LIBUSB_HOTPLUG_MATCH_ANY || product_id == TETHERBOX_PID) &&
                   (dev_class == LIBUSB_HOTPLUG_MATCH_ANY || dev_class == LIBUSB_CLASS_VENDOR_SPEC);
    libusb_hotplug_callback_handle handle = ctx->nextHandle++;
    if (matches)
        ctx->callbacks.push_back({handle, events, cb_fn, user_data});
    if (matches && (flags & LIBUSB_HOTPLUG_ENUMERATE) && sim::pluggedIn())
        cb_fn(ctx, deviceAt(sim::usbAddress()), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, user_data);
    if (callback_handle)
        *callback_handle = handle;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_hotplug_deregister_callback(libusb_context* ctx, libusb_hotplug_callback_handle handle)
{
    if (!ctx || !g_contexts.count(ctx))
        return;
    auto& cbs = ctx->callbacks;
    cbs.erase(std::remove_if(cbs.begin(), cbs.end(),
                             [handle](const libusb_context::Callback& c) { return c.handle == handle; }),
              cbs.end());
}

const libusb_pollfd** LIBUSB_CALL libusb_get_pollfds(libusb_context* ctx)
{
    if (!ctx || !g_contexts.count(ctx) || ctx->wakeFd < 0)
        return nullptr;
    auto** fds = new const libusb_pollfd*[2];
    fds[0] = new libusb_pollfd{ctx->wakeFd, POLLIN};
    fds[1] = nullptr;
    return fds;
}

void LIBUSB_CALL libusb_free_pollfds(const libusb_pollfd** pollfds)
{
    if (!pollfds)
        return;
    for (const libusb_pollfd** p = pollfds; *p; p++)
        delete *p;
    delete[] pollfds;
}

// Waiting for events lets modelled time pass, up to the next planned plug
// change: a test waits for a late linker without sleeping.
int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed)
{
    if (!ctx || !g_contexts.count(ctx))
        return LIBUSB_ERROR_INVALID_PARAM;
    sim::catchUpWithWallTime();
    sim::pluggedIn();
    double wait = tv ? tv->tv_sec + tv->tv_usec / 1e6 : 0;
    uint64_t expirations;
    bool woken = ctx->wakeFd >= 0 && read(ctx->wakeFd, &expirations, sizeof expirations) > 0;
    if (!woken && wait > 0) {
        // Only a library that watches the bus is woken by an arrival.
        double untilNext = sim::nextPlugEvent() - sim::clockSeconds();
        sim::advanceClock(sim::hotplugOffered() ? std::min(wait, std::max(0.0, untilNext)) : wait);
        sim::pace();
    }
    deliverPlugChanges();
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv)
{
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list)
{
    if (!list)
        return LIBUSB_ERROR_INVALID_PARAM;
    sim::catchUpWithWallTime();
    if (int code = sim::deviceListResult())
        return code;
    bool present = sim::pluggedIn();
    *list = new libusb_device*[2];
    (*list)[0] = present ? deviceAt(sim::usbAddress()) : nullptr;
    (*list)[1] = nullptr;
    return present ? 1 : 0;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref_devices)
{
    delete[] list;
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* dev)
{
    return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* dev) {}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc)
{
    if (!dev || !desc)
        return LIBUSB_ERROR_INVALID_PARAM;
    *desc = libusb_device_descriptor{};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bDeviceClass = LIBUSB_CLASS_VENDOR_SPEC;
    desc->bMaxPacketSize0 = MAX_PACKET;
    desc->idVendor = TETHERBOX_VID;
    desc->idProduct = TETHERBOX_PID;
    desc->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev)
{
    return 1;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev)
{
    return dev ? static_cast<uint8_t>(dev->address) : 0;
}

libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle* h)
{
    return valid(h) ? deviceAt(h->address) : nullptr;
}

libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vendor_id,
                                                                  uint16_t product_id)
{
    if (vendor_id != TETHERBOX_VID || product_id != TETHERBOX_PID || sim::deviceAbsent() ||
        sim::openResult(sim::usbAddress()))
        return nullptr;
    libusb_device_handle* h = new libusb_device_handle();
    h->address = sim::usbAddress();
    h->ctx = ctx;
    g_handles.insert(h);
    return h;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** out)
{
    if (!dev || !out)
        return LIBUSB_ERROR_INVALID_PARAM;
    // A device from an old list: the linker has since been unplugged.
    if (sim::deviceAbsent() || dev->address != sim::usbAddress())
        return LIBUSB_ERROR_NO_DEVICE;
    if (int code = sim::openResult(dev->address))
        return code;
    libusb_device_handle* h = new libusb_device_handle();
    h->address = dev->address;
    g_handles.insert(h);
    *out = h;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* h, int configuration)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (gone(h))
        return LIBUSB_ERROR_NO_DEVICE;
    if (int code = sim::setConfigurationResult())
        return code;
    if (configuration != CONFIGURATION && configuration != -1)
        return LIBUSB_ERROR_NOT_FOUND;
    // The kernel refuses to change configuration under a claimed interface.
    if (h->claimed)
        return LIBUSB_ERROR_BUSY;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* h, int interface_number)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (gone(h))
        return LIBUSB_ERROR_NO_DEVICE;
    if (int code = sim::claimInterfaceResult())
        return code;
    if (interface_number != INTERFACE)
        return LIBUSB_ERROR_NOT_FOUND;
    h->claimed = true;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* h, int interface_number)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (interface_number != INTERFACE || !h->claimed)
        return LIBUSB_ERROR_NOT_FOUND;
    h->claimed = false;
    if (gone(h))
        return LIBUSB_ERROR_NO_DEVICE;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle* h)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (gone(h))
        return LIBUSB_ERROR_NOT_FOUND;
    sim::usbReset();
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* h)
{
    if (!valid(h))
        return;
    g_handles.erase(h);
    delete h;
    sim::saveStateIfChanged();
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                                     int length, int* transferred, unsigned int timeout)
{
    if (transferred)
        *transferred = 0;
    if (!valid(h) || length < 0 || (length > 0 && !data))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (gone(h))
        return finish(endpoint, length, data, 0, transferred, LIBUSB_ERROR_NO_DEVICE);
    if (endpoint != EP_OUT && endpoint != EP_IN) {
        // The interface has no such endpoint. Linux's usbfs rejects the URB and
        // libusb reports that as an I/O error.
        return finish(endpoint, length, data, 0, transferred, LIBUSB_ERROR_IO);
    }
    int r = endpoint == EP_OUT ? sendOut(data, length, transferred, timeout)
                               : receiveIn(data, length, transferred, timeout);
    // A synchronous transfer handles the library's events while it waits:
    // hotplug callbacks may run in the middle of a job.
    deliverPlugChanges();
    return r;
}

}  // extern "C"
