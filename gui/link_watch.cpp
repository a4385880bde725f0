#include "gui/link_watch.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

#include <vector>

#include "core/link/linker.h"
#include "core/report.h"
#include "gui/log.h"
#include "gui/one_job.h"

static const double LOOK_EVERY_SECONDS = 1.0;
static std::vector<int> g_fds;
static Fl_Group* g_buttons = nullptr;
static Fl_Widget* g_alwaysOn = nullptr;

void linkButtons(Fl_Group* buttons, Fl_Widget* alwaysOn)
{
    g_buttons = buttons;
    g_alwaysOn = alwaysOn;
}

// Every button, Preferences included, only with a ready linker; but the one
// that needs none, always.
static void showLinkState()
{
    if (!g_buttons)
        return;
    bool ready = linker().ready();
    g_buttons->activate();
    for (int i = 0; i < g_buttons->children(); i++) {
        Fl_Widget* w = g_buttons->child(i);
        if (w != g_alwaysOn && dynamic_cast<Fl_Button*>(w))
            ready ? w->activate() : w->deactivate();
    }
}

static void onLibusbEvents(FL_SOCKET, void*)
{
    // During a job the events are taken, so that the descriptor does not
    // stay readable, but what they tell waits for the job's end.
    if (jobRunning())
        linker().handleEvents();
    else
        lookAtLinker();
}

static void onSecond(void*)
{
    lookAtLinker();
    Fl::repeat_timeout(LOOK_EVERY_SECONDS, onSecond);
}

static void onNextTry(void*)
{
    lookAtLinker();
}

// A linker just plugged in that is to be tried again is looked at when
// its try is due, whether or not libusb has more to tell by then.
static void lookAgainWhenDue()
{
    Fl::remove_timeout(onNextTry);
    double in = linker().nextTryIn();
    if (in >= 0)
        Fl::add_timeout(in, onNextTry);
}

void watchLinker()
{
    stopWatchingLinker();
    if (g_buttons)
        g_buttons->deactivate();
    Linker& l = linker();
    l.watch();
    lookAgainWhenDue();
    if (l.hotplug()) {
        g_fds = l.eventFds();
        for (int fd : g_fds)
            Fl::add_fd(fd, FL_READ, onLibusbEvents);
    } else {
        Fl::add_timeout(LOOK_EVERY_SECONDS, onSecond);
    }
    showLinkState();
}

void lookAtLinker()
{
    if (jobRunning())
        return;
    // Between commands, what a linker coming or going says is filed in the
    // log file under the linker rather than under no command at all.
    CommandScope named(windowReporter(), "Linker");
    // Greeting a linker lets the toolkit handle events: no click may start
    // a job before its firmware is accepted and its cartridge checked.
    if (g_buttons)
        g_buttons->deactivate();
    linker().look();
    lookAgainWhenDue();
    showLinkState();
}

void stopWatchingLinker()
{
    for (int fd : g_fds)
        Fl::remove_fd(fd);
    g_fds.clear();
    Fl::remove_timeout(onSecond);
    Fl::remove_timeout(onNextTry);
}

bool tryingAgainSoon()
{
    return Fl::has_timeout(onNextTry);
}

bool lookingEverySecond()
{
    return Fl::has_timeout(onSecond);
}
