// The libusb-1.0 calls the program makes, answered by the simulated linker
// instead of a USB device. Types, constants and error codes are libusb's own,
// so the program's code links against this unchanged.
#include "sim.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

// The program's clock hook. The stand-in takes libusb's place inside the
// program and, on libusb_init, points the program's waits at the modelled
// clock; it knows the program by this one symbol, as it knows it by libusb's.
extern double (*g_linkClock)();

struct libusb_context {
    int unused;
};

struct libusb_device_handle {
    bool claimed = false;
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

bool valid(libusb_device_handle* h)
{
    return h && g_handles.count(h) != 0;
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
    if (ctx) {
        *ctx = new libusb_context();
        g_contexts.insert(*ctx);
    }
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx)
{
    sim::saveStateIfChanged();
    if (ctx && g_contexts.erase(ctx))
        delete ctx;
}

libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context* ctx, uint16_t vendor_id,
                                                                  uint16_t product_id)
{
    (void)ctx;
    if (vendor_id != TETHERBOX_VID || product_id != TETHERBOX_PID || sim::deviceAbsent())
        return nullptr;
    libusb_device_handle* h = new libusb_device_handle();
    g_handles.insert(h);
    return h;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* h, int configuration)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (sim::unplugged())
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
    if (sim::unplugged())
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
    if (sim::unplugged())
        return LIBUSB_ERROR_NO_DEVICE;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle* h)
{
    if (!valid(h))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (sim::unplugged())
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
    if (sim::unplugged())
        return finish(endpoint, length, data, 0, transferred, LIBUSB_ERROR_NO_DEVICE);
    if (endpoint == EP_OUT)
        return sendOut(data, length, transferred, timeout);
    if (endpoint == EP_IN)
        return receiveIn(data, length, transferred, timeout);
    // The interface has no such endpoint. Linux's usbfs rejects the URB and
    // libusb reports that as an I/O error.
    return finish(endpoint, length, data, 0, transferred, LIBUSB_ERROR_IO);
}

}  // extern "C"
