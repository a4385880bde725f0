#include "core/link/linker.h"

#include <libusb.h>
#include <poll.h>

#include <algorithm>
#include <cstdint>

#include "core/cart/detect.h"
#include "core/link/clock.h"
#include "core/link/transfer.h"
#include "core/report.h"

// How long one wait for a linker lasts before the bus is looked at again
// when libusb cannot tell of arrivals.
static const double LOOK_INTERVAL_SECONDS = 1.0;

Linker& linker()
{
    static Linker* one = new Linker();  // outlives the statics a late close may need
    return *one;
}

static int LIBUSB_CALL hotplugHeard(libusb_context*, libusb_device*, libusb_hotplug_event, void* self)
{
    static_cast<Linker*>(self)->heard();
    return 0;  // stay registered
}

LinkState Linker::open(bool cartCheck)
{
    if (state_ != LinkState::Closed)
        close();
    cartCheck_ = cartCheck;
    waitingSaid_ = false;
    if (libusb_init(&g_ctx) < 0) {
        g_ctx = nullptr;
        printWindow("Failed to initialise libusb");
        return state_;
    }
    greet(Identity());
    return state_;
}

// The link opening, from the device on: at start-up, and again for every
// linker plugged in later. `seen` is the linker the bus showed, if known.
void Linker::greet(Identity seen)
{
    introduce(seen);
    if (state_ == LinkState::Refused && id_.known())
        refused_.push_back(id_);
}

// Opens the very device the bus showed: another linker may be plugged in
// beside it.
static libusb_device_handle* openAt(int bus, int address)
{
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(g_ctx, &list);
    libusb_device_handle* h = nullptr;
    for (ssize_t i = 0; i < n; i++)
        if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address &&
            libusb_open(list[i], &h) != LIBUSB_SUCCESS)
            h = nullptr;
    if (n >= 0)
        libusb_free_device_list(list, 1);
    return h;
}

void Linker::introduce(Identity seen)
{
    // A refused linker's handle, when another one is greeted beside it.
    if (devh) {
        libusb_close(devh);
        devh = nullptr;
    }
    resetTransfers(false);
    id_ = seen;
    devh = seen.known() ? openAt(seen.bus, seen.address)
                        : libusb_open_device_with_vid_pid(g_ctx, TETHERBOX_VID, TETHERBOX_PID);
    if (!devh) {
        printWindow("No USB Tetherbox device found!!");
        printWindow("Giving up..");
        // One that is there but cannot be opened (no permission) is not
        // tried again every second: it waits to be unplugged.
        std::vector<Identity> there;
        if (!id_.known() && linkersOnTheBus(&there) && !there.empty())
            id_ = there.front();
        state_ = id_.known() ? LinkState::Refused : LinkState::Waiting;
        return;
    }
    if (libusb_device* d = libusb_get_device(devh))
        id_ = Identity{libusb_get_bus_number(d), libusb_get_device_address(d)};
    state_ = LinkState::Refused;
    int r = libusb_set_configuration(devh, LINK_CONFIGURATION);
    if (r < 0) {
        printWindow("libusb_set_configuration error %d", r);
        return;
    }
    r = libusb_claim_interface(devh, LINK_INTERFACE);
    if (r < 0) {
        printWindow("libusb_claim_interface error %d", r);
        return;
    }
    uint8_t major = 0, minor = 0;
    if (checkLinker(&major, &minor) == -1) {
        printWindow("Major error.. better to restart");
        return;
    }
    printWindow("Linker with v%d.%02d Firmware found", major, minor);
    reporter().breathe();
    if (major != FIRMWARE_MAJOR || minor != FIRMWARE_MINOR) {
        printWindow("Version mismatch!  Expected v%d.%02d. Giving up..", FIRMWARE_MAJOR, FIRMWARE_MINOR);
        return;
    }
    // Ready only once the start-up sequence is over: no job may run on
    // this linker in the middle of its cartridge check.
    if (cartCheck_) {
        uint8_t scratch = 0;
        checkCart(&scratch, &scratch, &scratch, &scratch, false, true);
    }
    state_ = LinkState::Ready;
}

// The handle of a linker that is no longer there: nothing can be sent to
// it, and nothing of it may be used again.
void Linker::dropHandle()
{
    resetTransfers(true);
    if (devh) {
        libusb_close(devh);
        devh = nullptr;
    }
}

void Linker::becomeGone()
{
    dropHandle();
    state_ = LinkState::Gone;
    printWindow("The linker is gone. Plug it in again.");
}

void Linker::close()
{
    if (hotplug_ && g_ctx)
        libusb_hotplug_deregister_callback(g_ctx, hotplugHandle_);
    hotplug_ = watching_ = heard_ = false;
    // Nothing is owed by a linker that is let go; a job still running finds
    // the handle null and fails as on an unplugged one.
    resetTransfers(linkGone());
    if (devh) {
        build_tetherbox_led(LED_AT_SHUTDOWN);
        libusb_release_interface(devh, LINK_INTERFACE);
        libusb_reset_device(devh);
        libusb_close(devh);
        devh = nullptr;
    }
    if (g_ctx) {
        libusb_exit(g_ctx);
        g_ctx = nullptr;
    }
    state_ = LinkState::Closed;
    id_ = Identity();
    refused_.clear();
}

void Linker::watch()
{
    if (!g_ctx || watching_)
        return;
    watching_ = true;
    hotplug_ = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
               libusb_hotplug_register_callback(
                   g_ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                   LIBUSB_HOTPLUG_ENUMERATE, TETHERBOX_VID, TETHERBOX_PID, LIBUSB_HOTPLUG_MATCH_ANY, hotplugHeard,
                   this, &hotplugHandle_) == LIBUSB_SUCCESS;
    // A linker plugged in since the opening looked has told no callback
    // (where there are none, the first look is a second away).
    heard_ = true;
    look();
    if (state_ == LinkState::Waiting && !waitingSaid_) {
        waitingSaid_ = true;
        printWindow("Waiting for the linker: plug it in.");
    }
}

std::vector<int> Linker::eventFds() const
{
    std::vector<int> fds;
    if (!hotplug_ || !g_ctx)
        return fds;
    const libusb_pollfd** all = libusb_get_pollfds(g_ctx);
    for (const libusb_pollfd** p = all; p && *p; p++)
        if ((*p)->events & POLLIN)
            fds.push_back((*p)->fd);
    libusb_free_pollfds(all);
    return fds;
}

bool Linker::linkersOnTheBus(std::vector<Identity>* found) const
{
    found->clear();
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(g_ctx, &list);
    if (n < 0)
        return false;
    for (ssize_t i = 0; i < n; i++) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == TETHERBOX_VID &&
            d.idProduct == TETHERBOX_PID)
            found->push_back(Identity{libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])});
    }
    libusb_free_device_list(list, 1);
    return true;
}

void Linker::handleEvents()
{
    if (!hotplug_ || !g_ctx)
        return;
    timeval now = {0, 0};
    libusb_handle_events_timeout_completed(g_ctx, &now, nullptr);
}

bool Linker::look()
{
    // The start-up sequence lets the face handle its events, whose timer or
    // descriptor may ask for a look in the middle of this one.
    if (!g_ctx || state_ == LinkState::Closed || looking_)
        return false;
    looking_ = true;
    LinkState before = state_;
    lookNow();
    looking_ = false;
    return state_ != before;
}

void Linker::lookNow()
{
    handleEvents();
    // The linker found gone in this look is not greeted again in it; in a
    // later one it may be back at the same bus and address.
    Identity lost;
    if (state_ == LinkState::Ready && linkGone()) {
        lost = id_;
        becomeGone();
    }
    if (hotplug_ && !heard_)
        return;
    std::vector<Identity> there;
    // A bus that could not be listed says nothing of the linker: a working
    // link is not given up for it.
    if (!linkersOnTheBus(&there))
        return;
    heard_ = false;
    auto onTheBus = [&there](const Identity& i) { return std::find(there.begin(), there.end(), i) != there.end(); };
    if (state_ == LinkState::Ready && !onTheBus(id_)) {
        lost = id_;
        becomeGone();
    }
    // Refused linkers are left alone until they are unplugged.
    refused_.erase(std::remove_if(refused_.begin(), refused_.end(), [&](const Identity& i) { return !onTheBus(i); }),
                   refused_.end());
    if (state_ == LinkState::Refused && !onTheBus(id_))
        dropHandle();
    if (state_ == LinkState::Refused && refused_.empty()) {
        state_ = LinkState::Waiting;
        id_ = Identity();
    }
    if (state_ == LinkState::Ready)
        return;
    for (const Identity& i : there) {
        if (i != lost && std::find(refused_.begin(), refused_.end(), i) == refused_.end()) {
            greet(i);
            return;
        }
    }
}

bool Linker::waitForLinker(double seconds, const std::function<bool()>& goOn)
{
    watch();
    double until = linkSeconds() + seconds;
    for (;;) {
        if (state_ == LinkState::Ready)
            return true;
        if (state_ != LinkState::Waiting && state_ != LinkState::Gone)
            return false;
        double left = seconds < 0 ? LOOK_INTERVAL_SECONDS : std::min(LOOK_INTERVAL_SECONDS, until - linkSeconds());
        reporter().breathe();
        if (!goOn() || left <= 0)
            return false;
        // Returns as soon as libusb hears of a device (or a signal comes);
        // without hotplug it is the second between two looks.
        timeval wait = {static_cast<time_t>(left), static_cast<suseconds_t>((left - int(left)) * 1e6)};
        libusb_handle_events_timeout_completed(g_ctx, &wait, nullptr);
        heard_ = heard_ || !hotplug_;
        look();
    }
}
