// The clock the link uses to bound its waits (an erase that never finishes,
// a byte that never reads back). The real program reads a monotonic wall
// clock; the simulated linker swaps in its own modelled clock, so a wait of
// many seconds passes in tests without anyone sleeping.
#pragma once

// Seconds since an arbitrary origin; only differences mean anything.
extern double (*g_linkClock)();

inline double linkSeconds()
{
    return g_linkClock();
}

// The default clock: std::chrono::steady_clock in seconds.
double steadyClockSeconds();
