#include "clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sim {

namespace {
Costs g_costs;
double g_now = 0.0;
bool g_pacing = false;
// Wall time and modelled time at which pacing started.
PaceClock g_paceClock;
std::chrono::steady_clock::time_point g_paceWallOrigin;
double g_paceModelOrigin = 0.0;
}  // namespace

Costs& costs()
{
    return g_costs;
}

void resetCosts()
{
    g_costs = Costs();
}

double clockSeconds()
{
    return g_now;
}

// The wall time at which the modelled clock, as it stands, is due.
static std::chrono::steady_clock::time_point paceDue()
{
    std::chrono::duration<double> ahead(g_now - g_paceModelOrigin);
    return g_paceWallOrigin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(ahead);
}

void advanceClock(double seconds)
{
    if (g_pacing) {
        // Behind the wall clock, the device sat idle (or the host was slow).
        // A real device does not bank that time: what it does next takes its
        // own time, measured from now, instead of racing until caught up.
        auto now = g_paceClock.now();
        if (paceDue() < now) {
            g_paceWallOrigin = now;
            g_paceModelOrigin = g_now;
        }
    }
    if (seconds > 0)
        g_now += seconds;
}

void resetClock()
{
    g_now = 0.0;
    g_paceWallOrigin = g_paceClock.now();
    g_paceModelOrigin = 0.0;
}

void setPacing(bool on)
{
    g_pacing = on;
    g_paceWallOrigin = g_paceClock.now();
    g_paceModelOrigin = g_now;
}

bool pacing()
{
    return g_pacing;
}

void pace()
{
    if (!g_pacing)
        return;
    auto due = paceDue();
    auto now = g_paceClock.now();
    // Sleeping in slices of at least a millisecond keeps the demo smooth
    // without a system call per packet.
    if (due - now > std::chrono::milliseconds(1))
        g_paceClock.sleepUntil(due);
}

void setPaceClock(const PaceClock& clock)
{
    g_paceClock = clock;
    g_paceWallOrigin = g_paceClock.now();
}

void catchUpWithWallTime()
{
    if (!g_pacing)
        return;
    // Moved straight to where the wall clock stands, origins kept: going
    // through advanceClock() would first start pacing afresh from now and
    // then count the idle time as work still to be paced, so a job after a
    // dialog waited as long as the dialog had stayed open.
    std::chrono::duration<double> wall = g_paceClock.now() - g_paceWallOrigin;
    g_now = std::max(g_now, g_paceModelOrigin + wall.count());
}

}  // namespace sim
