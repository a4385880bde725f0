// The one owner of the link with the Tetherbox. It opens the link (the
// firmware check included), notices when the linker has gone, and greets a
// linker plugged in later with the start-up sequence again. Both faces ask
// it; nothing else opens or closes the link.
#pragma once

#include <functional>
#include <vector>

enum class LinkState {
    Closed,   // before start-up, and once the link has been let go
    Waiting,  // no linker on the bus: one is looked for
    Ready,    // a linker with the accepted firmware
    Refused,  // a linker that cannot be used (its firmware, configuration,
              // interface or version exchange): left alone until unplugged
    Gone,     // the ready linker vanished: one is looked for
};

class Linker {
public:
    // The start-up sequence: library, linker, firmware, each step logged as
    // it goes. With `cartCheck`, an accepted firmware is followed by the
    // cartridge check as Cart Info runs it, now and at every later arrival.
    LinkState open(bool cartCheck);
    // Lets the linker go (LED setting, interface, reset, close) and the library.
    void close();

    LinkState state() const { return state_; }
    bool ready() const { return state_ == LinkState::Ready; }

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
    // hotplug; gives up early once goOn() says no. Logs the waiting line once.
    bool waitForLinker(double seconds, const std::function<bool()>& goOn);

    // The hotplug callback's one act: it may run inside a job's transfer,
    // so it only notes that the bus is to be looked at.
    void heard() { heard_ = true; }

private:
    struct Identity {
        int bus = -1, address = -1;
        bool known() const { return address >= 0; }
        bool operator==(const Identity& o) const { return bus == o.bus && address == o.address; }
        bool operator!=(const Identity& o) const { return !(*this == o); }
    };
    void lookNow();
    void greet(Identity seen);
    void introduce(Identity seen);
    void becomeGone();
    void dropHandle();
    // False when the bus could not be listed.
    bool linkersOnTheBus(std::vector<Identity>* found) const;

    LinkState state_ = LinkState::Closed;
    bool cartCheck_ = false;
    Identity id_;  // the linker opened or refused
    std::vector<Identity> refused_;  // refused ones still plugged in
    bool watching_ = false;
    bool hotplug_ = false;
    int hotplugHandle_ = 0;
    bool heard_ = false;  // a hotplug callback ran since the last look
    bool looking_ = false;
    bool waitingSaid_ = false;
};

Linker& linker();
