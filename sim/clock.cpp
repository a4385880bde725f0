#include "clock.h"

#include <chrono>
#include <thread>

namespace sim {

namespace {
Costs g_costs;
double g_now = 0.0;
bool g_pacing = false;
// Wall time and modelled time at which pacing started.
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

void advanceClock(double seconds)
{
    if (seconds > 0)
        g_now += seconds;
}

void resetClock()
{
    g_now = 0.0;
    g_paceWallOrigin = std::chrono::steady_clock::now();
    g_paceModelOrigin = 0.0;
}

void setPacing(bool on)
{
    g_pacing = on;
    g_paceWallOrigin = std::chrono::steady_clock::now();
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
    std::chrono::duration<double> ahead(g_now - g_paceModelOrigin);
    auto due = g_paceWallOrigin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(ahead);
    // Sleeping in slices of at least a millisecond keeps the demo smooth
    // without a system call per packet.
    if (due - std::chrono::steady_clock::now() > std::chrono::milliseconds(1))
        std::this_thread::sleep_until(due);
}

void catchUpWithWallTime()
{
    if (!g_pacing)
        return;
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - g_paceWallOrigin;
    advanceClock(g_paceModelOrigin + wall.count() - g_now);
}

}  // namespace sim
