#include "core/link/clock.h"

#include <chrono>

double steadyClockSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double (*g_linkClock)() = steadyClockSeconds;
