#include "gui/one_job.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include "gui/progress.h"

#include <vector>

static bool g_running = false;
static bool g_closeAsked = false;
static void (*g_started)() = nullptr;
static void (*g_ended)(bool closeAsked) = nullptr;

void followJobs(void (*started)(), void (*ended)(bool closeAsked))
{
    g_started = started;
    g_ended = ended;
}

OneJob::OneJob() : started_(!g_running)
{
    if (!started_)
        return;
    g_running = true;
    if (g_started)
        g_started();
}

OneJob::~OneJob()
{
    if (!started_)
        return;
    g_running = false;
    bool closeAsked = g_closeAsked;
    g_closeAsked = false;
    if (g_ended)
        g_ended(closeAsked);
}

bool jobRunning()
{
    return g_running;
}

void closeWhenJobEnds()
{
    g_closeAsked = true;
    cancelProgress();
    // A chooser, a question or a number window the job waits on is closed
    // unanswered, so the job ends as soon as it can.
    std::vector<Fl_Window*> waitedOn;
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
        if (w->modal() && w != (Fl_Window*)progress_window)
            waitedOn.push_back(w);
    for (Fl_Window* w : waitedOn)
        w->hide();
}

bool closeRequested()
{
    return g_closeAsked;
}
