#include "gui/events.h"

#include <FL/Fl.H>

void (*g_afterEventsHook)() = nullptr;

void letEventsThrough()
{
    Fl::check();
    if (g_afterEventsHook)
        g_afterEventsHook();
}

void waitForEventsBriefly()
{
    Fl::wait(0.02);
    if (g_afterEventsHook)
        g_afterEventsHook();
}
