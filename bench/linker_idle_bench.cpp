// What looking for the linker costs while the window sits idle where libusb
// tells of no arrivals: the look the window takes once a second, through the
// real libusb on the emulated bus (run it under usb_launcher), and the whole
// program's CPU over idle seconds with that look on its one-second timer.
//
// Target: under 0.1% of one CPU.

#include <FL/Fl.H>

#include <cstdio>
#include <ctime>

#include "core/link/linker.h"
#include "gui/link_watch.h"
#include "gui/main_window.h"

static const int LOOKS = 2000;
static const double IDLE_SECONDS = 5.0;

static double clockOf(clockid_t id)
{
    timespec t;
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

static void everySecond(void*)
{
    lookAtLinker();
    Fl::repeat_timeout(1.0, everySecond);
}

int main()
{
    if (!startUp()) {
        fprintf(stderr, "no linker: run this under usb_launcher\n");
        return 1;
    }
    // The opening again, without the hotplug callbacks: every look then
    // reads the bus, as the window's timer does where libusb cannot tell.
    stopWatchingLinker();
    linker().close();
    if (linker().open(stderrReporter()) != LinkState::Ready || linker().hotplug()) {
        fprintf(stderr, "the linker did not open again\n");
        return 1;
    }

    double cpu0 = clockOf(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < LOOKS; i++)
        linker().look();
    double perLook = (clockOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / LOOKS;

    Fl::add_timeout(1.0, everySecond);
    double wall0 = clockOf(CLOCK_MONOTONIC);
    cpu0 = clockOf(CLOCK_PROCESS_CPUTIME_ID);
    while (clockOf(CLOCK_MONOTONIC) - wall0 < IDLE_SECONDS)
        Fl::wait(IDLE_SECONDS);
    double idle = (clockOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / (clockOf(CLOCK_MONOTONIC) - wall0);
    Fl::remove_timeout(everySecond);
    bool stillReady = linker().ready();
    shutDown();

    printf("Looking for the linker once a second without hotplug (real libusb, emulated bus):\n");
    printf("| one look us | share of a CPU at one a second | idle window, %.0f s | target |\n|---|---|---|---|\n",
           IDLE_SECONDS);
    printf("| %11.1f | %29.4f%% | %17.4f%% | < 0.1%% |\n", perLook * 1e6, perLook * 100, idle * 100);
    return stillReady && idle < 0.001 ? 0 : 1;
}
