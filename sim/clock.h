// The simulated linker's clock. Nothing in the simulator sleeps: every
// transfer, command and flash operation advances this modelled clock by its
// cost, and erase completion is decided by it. With pacing on, the USB
// stand-in additionally sleeps so that wall time keeps up with it (for the
// demo's progress bars); the modelled clock stays the one the program reads.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace sim {

// Costs, from a full-speed USB link and typical NOR flash datasheets
// (29F/29LV-class parts: byte program 9 us, sector erase 0.7 s, chip erase
// about 25 s for 16 Mbit).
struct Costs {
    // One 64-byte bulk packet: full speed carries at most 19 of them per
    // 1 ms frame.
    double packet = 1e-3 / 19;
    // From a command packet arriving to the firmware having its first reply
    // or data packet ready. Kept small so streaming reads stay close to the
    // bulk limit.
    double turnaround = 150e-6;
    // Embedded byte program, typical.
    double byteProgram = 9e-6;
    // The firmware's data-polling pace while a byte programs.
    double pollInterval = 4e-6;
    // The firmware gives up on a byte that has not programmed after this
    // long (datasheet maximum is a few hundred microseconds).
    double programTimeout = 1e-3;
    // Block (sector) erase of one block, whatever its size.
    double blockErase = 0.7;
    // Chip erase of a 16 Mbit chip; smaller chips take proportionally less.
    double chipErase16 = 25.0;
    // An erase aimed only at protected blocks still runs its internal
    // sequence briefly before returning to reading mode.
    double protectedErase = 100e-6;
    // What a receive that times out costs the host: the 2 s it waited.
    // (Taken from the transfer's own time-out; this is only the fallback
    // for a time-out of 0, which libusb treats as "wait forever".)
    double endlessWait = 2.0;
};

// The current costs; tests may change them (see sim::setEraseTimes).
Costs& costs();
void resetCosts();

// Modelled seconds since the device was reset.
double clockSeconds();
void advanceClock(double seconds);
void resetClock();

// The wall clock pacing follows, and how it sleeps; tests swap in their own.
struct PaceClock {
    std::function<std::chrono::steady_clock::time_point()> now = [] {
        return std::chrono::steady_clock::now();
    };
    std::function<void(std::chrono::steady_clock::time_point)> sleepUntil =
        [](std::chrono::steady_clock::time_point t) { std::this_thread::sleep_until(t); };
};
void setPaceClock(const PaceClock& clock);

// Real-time pacing: when on, pace() sleeps until wall time since the
// pacing origin has caught up with the modelled clock. Time the device sat
// idle is not saved up for later.
void setPacing(bool on);
bool pacing();
void pace();
// With pacing on, the time that passed while nothing was sent passes on
// the modelled clock too (an idle window waiting for a linker to arrive).
void catchUpWithWallTime();

}  // namespace sim
