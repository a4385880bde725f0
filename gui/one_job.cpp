#include "gui/one_job.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>

#include "gui/link_watch.h"
#include "gui/main_window.h"
#include "gui/progress.h"

#include <vector>

static bool g_running = false;
static bool g_closeAsked = false;

OneJob::OneJob() : started_(!g_running)
{
    if (!started_)
        return;
    g_running = true;
    if (operations_group)
        operations_group->deactivate();
}

OneJob::~OneJob()
{
    if (!started_)
        return;
    g_running = false;
    if (g_closeAsked) {
        g_closeAsked = false;
        shutDown();
        return;
    }
    lookAtLinker();
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
