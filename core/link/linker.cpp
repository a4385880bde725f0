#include "core/link/linker.h"

#include <libusb.h>
#include <poll.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/link/clock.h"
#include "core/link/transfer.h"
#include "core/report.h"

// How long one wait for a linker lasts before the bus is looked at again
// when libusb cannot tell of arrivals.
static const double LOOK_INTERVAL_SECONDS = 1.0;
// How often, and how far apart, a linker just plugged in is tried before
// an error opening, configuring or claiming it refuses it.
static const int ARRIVAL_TRIES = 5;
static const double ARRIVAL_RETRY_SECONDS = 0.2;

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

LinkState Linker::open(Reporter& r, Greeting greeting, bool waits)
{
    if (state_ != LinkState::Closed)
        close();
    reporter_ = &r;
    greeting_ = std::move(greeting);
    waits_ = waits;
    waitingSaid_ = false;
    if (libusb_init(&ctx_) < 0) {
        ctx_ = nullptr;
        printWindow(*reporter_, "Failed to initialise libusb");
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
    if (leftAlone() && id_.known())
        refused_.push_back(id_);
}

bool Linker::leftAlone() const
{
    return state_ == LinkState::Refused || state_ == LinkState::NotOurs || state_ == LinkState::Busy;
}

bool Linker::awaitsLinker() const
{
    return state_ == LinkState::Waiting || state_ == LinkState::Gone || state_ == LinkState::NotOurs ||
           state_ == LinkState::Busy;
}

bool Linker::firmware(uint8_t* major, uint8_t* minor) const
{
    if (firmware_[0] < 0)
        return false;
    *major = uint8_t(firmware_[0]);
    *minor = uint8_t(firmware_[1]);
    return true;
}

// Opens the very device the bus showed (another linker may be plugged in
// beside it), or the first Tetherbox when `*seen` is not known. The open's
// error is kept, with the device it came from: opening by vendor and product
// would throw away why a linker that is there could not be opened.
static libusb_device_handle* openOnTheBus(libusb_context* ctx, Linker::Identity* seen, int* error)
{
    *error = 0;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device_handle* h = nullptr;
    for (ssize_t i = 0; i < n && !h; i++) {
        Linker::Identity at{libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])};
        libusb_device_descriptor d;
        bool wanted = seen->known() ? at == *seen
                                    : libusb_get_device_descriptor(list[i], &d) == 0 &&
                                          d.idVendor == TETHERBOX_VID && d.idProduct == TETHERBOX_PID;
        if (!wanted)
            continue;
        int r = libusb_open(list[i], &h);
        if (r == LIBUSB_SUCCESS)
            *seen = at;
        else if (!*error) {
            h = nullptr;
            *error = r;
            *seen = at;
        }
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    return h;
}

// Keeps why the linker could not be used. One that is there but not ours to
// use now is said so plainly, with what to do, and left alone until it is
// plugged in again; false for any other reason, which the caller words.
bool Linker::cannotUse(const char* call, int error)
{
    failure_ = OpenFailure{call, error};
    // Only the open is a matter of the node's permissions; a configuration
    // or interface someone else holds is busy, whichever call meets it.
    if (error == LIBUSB_ERROR_ACCESS && strcmp(call, "libusb_open") == 0) {
        printWindow(*reporter_, "The linker is plugged in, but this user may not open it.");
        printWindow(*reporter_, "Install the udev rule (see the README) and plug it in again.");
        state_ = LinkState::NotOurs;
    } else if (error == LIBUSB_ERROR_BUSY) {
        printWindow(*reporter_, "Another program is using the linker.");
        printWindow(*reporter_, "Close it, then plug the linker in again.");
        state_ = LinkState::Busy;
    } else {
        return false;
    }
    return true;
}

// A program that goes on looking says so instead of giving up, once.
void Linker::giveUpOrWait()
{
    if (!waits_) {
        printWindow(*reporter_, "Giving up..");
    } else if (!waitingSaid_) {
        waitingSaid_ = true;
        printWindow(*reporter_, "Waiting for the linker: plug it in.");
    }
}

void Linker::introduce(Identity seen)
{
    // A refused linker's handle, when another one is greeted beside it.
    if (libusb_device_handle* old = link_.detach(false))
        libusb_close(old);
    const LinkState before = state_;
    failure_ = OpenFailure();
    firmware_[0] = firmware_[1] = -1;
    id_ = seen;
    int error = 0;
    libusb_device_handle* devh = openOnTheBus(ctx_, &id_, &error);
    link_.attach(devh);
    if (!devh) {
        if (tryAgainLater(seen, before))
            return;
        if (cannotUse("libusb_open", error))
            return;
        printWindow(*reporter_, "No USB Tetherbox device found!!");
        giveUpOrWait();
        // One that is there but could not be opened is not tried again
        // every second: it waits to be unplugged.
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
        if (!tryAgainLater(seen, before) && !cannotUse("libusb_set_configuration", r))
            printWindow(*reporter_, "libusb_set_configuration error %d", r);
        return;
    }
    r = libusb_claim_interface(devh, LINK_INTERFACE);
    if (r < 0) {
        if (!tryAgainLater(seen, before) && !cannotUse("libusb_claim_interface", r))
            printWindow(*reporter_, "libusb_claim_interface error %d", r);
        return;
    }
    settling_ = Settling();
    uint8_t major = 0, minor = 0;
    link_.reportTo(*reporter_);
    if (link_.checkLinker(&major, &minor) == -1) {
        printWindow(*reporter_, "Major error.. better to restart");
        return;
    }
    firmware_[0] = major;
    firmware_[1] = minor;
    printWindow(*reporter_, "Linker with v%d.%02d Firmware found", major, minor);
    reporter_->breathe();
    if (major != FIRMWARE_MAJOR || minor != FIRMWARE_MINOR) {
        printWindow(*reporter_, "Version mismatch!  Expected v%d.%02d. Giving up..", FIRMWARE_MAJOR, FIRMWARE_MINOR);
        return;
    }
    state_ = LinkState::Ready;
    if (greeting_)
        greeting_(link_);
}

// After an error on a linker the bus has just shown: true when it is to be
// tried again later, silently, its handle let go meanwhile; false once its
// tries are spent, or for the linker found at start-up.
bool Linker::tryAgainLater(Identity seen, LinkState before)
{
    if (!seen.known())
        return false;
    if (settling_.id != seen)
        settling_ = Settling{seen, 0, 0};
    if (++settling_.tries >= ARRIVAL_TRIES) {
        settling_ = Settling();
        return false;
    }
    settling_.nextTry = linkSeconds() + ARRIVAL_RETRY_SECONDS;
    if (libusb_device_handle* h = link_.detach(false))
        libusb_close(h);
    id_ = Identity();
    // Still looking: a job asked for meanwhile fails as it would without it.
    state_ = before == LinkState::Gone ? LinkState::Gone : LinkState::Waiting;
    return true;
}

double Linker::nextTryIn() const
{
    if (!settling_.id.known())
        return -1;
    return std::max(0.0, settling_.nextTry - linkSeconds());
}

// The handle of a linker that is no longer there: nothing can be sent to
// it, and nothing of it may be used again.
void Linker::dropHandle()
{
    if (libusb_device_handle* h = link_.detach(true))
        libusb_close(h);
}

void Linker::becomeGone()
{
    dropHandle();
    state_ = LinkState::Gone;
    printWindow(*reporter_, "The linker is gone. Plug it in again.");
}

void Linker::close()
{
    if (hotplug_ && ctx_)
        libusb_hotplug_deregister_callback(ctx_, hotplugHandle_);
    hotplug_ = watching_ = heard_ = false;
    // Nothing is owed by a linker that is let go; a job still running finds
    // the handle null and fails as on an unplugged one.
    link_.forgetOwed();
    link_.reportTo(*reporter_);
    if (link_.handle())
        link_.build_tetherbox_led(LED_AT_SHUTDOWN);
    if (libusb_device_handle* devh = link_.detach(link_.gone())) {
        libusb_release_interface(devh, LINK_INTERFACE);
        libusb_reset_device(devh);
        libusb_close(devh);
    }
    if (ctx_) {
        libusb_exit(ctx_);
        ctx_ = nullptr;
    }
    state_ = LinkState::Closed;
    id_ = Identity();
    refused_.clear();
    settling_ = Settling();
    // Whoever it was opened for may not outlive it.
    reporter_ = &stderrReporter();
    link_.reportTo(*reporter_);
    failure_ = OpenFailure();
    firmware_[0] = firmware_[1] = -1;
}

void Linker::watch()
{
    if (!ctx_ || watching_)
        return;
    watching_ = true;
    hotplug_ = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
               libusb_hotplug_register_callback(
                   ctx_, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                   LIBUSB_HOTPLUG_ENUMERATE, TETHERBOX_VID, TETHERBOX_PID, LIBUSB_HOTPLUG_MATCH_ANY, hotplugHeard,
                   this, &hotplugHandle_) == LIBUSB_SUCCESS;
    // A linker plugged in since the opening looked has told no callback
    // (where there are none, the first look is a second away).
    heard_ = true;
    look();
    if (state_ == LinkState::Waiting && !waitingSaid_) {
        waitingSaid_ = true;
        printWindow(*reporter_, "Waiting for the linker: plug it in.");
    }
}

std::vector<int> Linker::eventFds() const
{
    std::vector<int> fds;
    if (!hotplug_ || !ctx_)
        return fds;
    const libusb_pollfd** all = libusb_get_pollfds(ctx_);
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
    ssize_t n = libusb_get_device_list(ctx_, &list);
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
    if (!hotplug_ || !ctx_)
        return;
    timeval now = {0, 0};
    libusb_handle_events_timeout_completed(ctx_, &now, nullptr);
}

bool Linker::look()
{
    // The start-up sequence lets the face handle its events, whose timer or
    // descriptor may ask for a look in the middle of this one.
    if (!ctx_ || state_ == LinkState::Closed || looking_)
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
    if (state_ == LinkState::Ready && link_.gone()) {
        lost = id_;
        becomeGone();
    }
    bool tryDue = settling_.id.known() && linkSeconds() >= settling_.nextTry;
    if (hotplug_ && !heard_ && !tryDue)
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
    if (leftAlone() && !onTheBus(id_))
        dropHandle();
    if (leftAlone() && refused_.empty()) {
        state_ = LinkState::Waiting;
        id_ = Identity();
    }
    if (settling_.id.known() && !onTheBus(settling_.id))
        settling_ = Settling();
    if (state_ == LinkState::Ready)
        return;
    for (const Identity& i : there) {
        if (i == settling_.id && !tryDue)
            continue;
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
        if (!awaitsLinker())
            return false;
        double left = seconds < 0 ? LOOK_INTERVAL_SECONDS : std::min(LOOK_INTERVAL_SECONDS, until - linkSeconds());
        double retry = nextTryIn();
        if (retry >= 0 && retry < left)
            left = std::max(retry, 0.001);
        reporter_->breathe();
        if (!goOn())
            return false;
        if (left <= 0) {
            printWindow(*reporter_, "No linker could be used within %g seconds.", seconds);
            return false;
        }
        // Returns as soon as libusb hears of a device (or a signal comes);
        // without hotplug it is the second between two looks.
        timeval wait = {static_cast<time_t>(left), static_cast<suseconds_t>((left - int(left)) * 1e6)};
        libusb_handle_events_timeout_completed(ctx_, &wait, nullptr);
        heard_ = heard_ || !hotplug_;
        look();
    }
}

bool openLink(Reporter& r)
{
    return linker().open(r) == LinkState::Ready;
}

void closeLink()
{
    linker().close();
}
