#include "gui/one_job.h"

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>

#include "gui/link_watch.h"
#include "gui/main_window.h"
#include "gui/progress.h"

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
    if (progress_window)
        progress_window->hide();
}

bool closeRequested()
{
    return g_closeAsked;
}
