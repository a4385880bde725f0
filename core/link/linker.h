// The one owner of the link with the Tetherbox. It opens the link (the
// firmware check included), notices when the linker has gone, and greets a
// linker plugged in later with the start-up sequence again. Both faces ask
// it; nothing else opens or closes the link.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/link/transfer.h"

struct libusb_context;

enum class LinkState {
    Closed,   // before start-up, and once the link has been let go
    Waiting,  // no linker on the bus: one is looked for
    Ready,    // a linker with the accepted firmware
    Refused,  // a linker that cannot be used (its firmware, configuration,
              // interface or version exchange): left alone until unplugged
    Gone,     // the ready linker vanished: one is looked for
    NotOurs,  // a linker this user may not open (no udev rule yet): left
              // alone until plugged in again, which is greeted as any arrival
    Busy,     // a linker another program has claimed: the same
};

// Why the last linker the bus showed could not be used, if it could not.
struct OpenFailure {
    const char* call = nullptr;  // "libusb_open", "libusb_set_configuration", "libusb_claim_interface"
    int error = 0;               // libusb's code; 0: nothing failed
};

class Linker {
public:
    // Run on the link each time a linker has just become ready, before
    // anything else may use it: the window checks the cartridge there.
    using Greeting = std::function<void(Link&)>;
    // The start-up sequence: library, linker, firmware, each step logged as
    // it goes; `greeting` follows an accepted firmware, now and at every
    // later arrival. A program that `waits` for a linker says so where one
    // that does not gives up.
    // Its own lines go to `r`, which must outlive the link's closing.
    LinkState open(Reporter& r, Greeting greeting = nullptr, bool waits = false);
    // Lets the linker go (LED setting, interface, reset, close) and the library.
    void close();

    LinkState state() const { return state_; }
    // The link jobs use: over the ready linker's handle, or over none.
    Link& link() { return link_; }
    libusb_context* context() const { return ctx_; }
    bool ready() const { return state_ == LinkState::Ready; }
    // No linker can be used now, but one plugged in (again) may be.
    bool awaitsLinker() const;
    OpenFailure failure() const { return failure_; }
    // The version the linker last opened reported; false if none answered.
    bool firmware(uint8_t* major, uint8_t* minor) const;

    struct Identity {
        int bus = -1, address = -1;
        bool known() const { return address >= 0; }
        bool operator==(const Identity& o) const { return bus == o.bus && address == o.address; }
        bool operator!=(const Identity& o) const { return !(*this == o); }
    };
    // The linker opened or last tried, if any.
    Identity current() const { return id_; }
    // Every Tetherbox on the bus now; false when the bus could not be listed.
    bool linkersOnTheBus(std::vector<Identity>* found) const;

    // From now on arrivals and departures are listened for: through
    // libusb's hotplug callbacks where it offers them, otherwise the face
    // calls look() about once a second. Logs the waiting line if no linker
    // was found.
    void watch();
    // Whether the hotplug callbacks are registered.
    bool hotplug() const { return hotplug_; }
    // What to wait on for reading: libusb has events to handle (hotplug only).
    std::vector<int> eventFds() const;
    // Handles those events without waiting and without acting on what they
    // tell, as during a job: the descriptors must not stay readable.
    void handleEvents();

    // Never while a job runs: handles libusb's pending events without
    // waiting, closes what is left of a linker that has gone (saying so),
    // forgets a refused one that was unplugged, and greets one that was
    // plugged in. True when the state changed.
    bool look();

    // Waits up to `seconds` (negative: for ever) for a linker to be ready,
    // looking whenever libusb hears of a device, or once a second without
    // hotplug; gives up early once goOn() says no. Logs the waiting line once,
    // and one line when the time runs out.
    bool waitForLinker(double seconds, const std::function<bool()>& goOn);

    // Link-clock seconds until a linker just plugged in is tried again
    // (negative when none is): the face looks again then.
    double nextTryIn() const;

    // The hotplug callback's one act: it may run inside a job's transfer,
    // so it only notes that the bus is to be looked at.
    void heard() { heard_ = true; }

private:
    void lookNow();
    void greet(Identity seen);
    void introduce(Identity seen);
    bool tryAgainLater(Identity seen, LinkState before);
    void becomeGone();
    void dropHandle();
    bool leftAlone() const;
    bool cannotUse(const char* call, int error);
    void giveUpOrWait();

    LinkState state_ = LinkState::Closed;
    libusb_context* ctx_ = nullptr;
    Link link_;
    Greeting greeting_;
    Reporter* reporter_ = &stderrReporter();
    Identity id_;  // the linker opened or refused
    std::vector<Identity> refused_;  // refused ones still plugged in
    bool watching_ = false;
    bool hotplug_ = false;
    int hotplugHandle_ = 0;
    bool heard_ = false;  // a hotplug callback ran since the last look
    // A linker just plugged in that could not yet be opened, configured or
    // claimed: the kernel may still be binding it, or udev not yet done
    // with its permissions. It gets a few more tries before it is refused.
    struct Settling {
        Identity id;
        int tries = 0;
        double nextTry = 0;  // on the link clock
    } settling_;
    bool looking_ = false;
    bool waits_ = false;
    bool waitingSaid_ = false;
    OpenFailure failure_;
    int firmware_[2] = {-1, -1};
};

Linker& linker();

// The Linker's opening without a greeting, true once the linker answered
// with the accepted firmware; and its closing.
bool openLink(Reporter& r);
void closeLink();
