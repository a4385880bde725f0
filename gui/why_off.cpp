#include "gui/why_off.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Tooltip.H>

#include "core/link/linker.h"
#include "gui/one_job.h"

const char* whyOff(const Fl_Widget* w)
{
    if (!w || w->active_r() || !dynamic_cast<const Fl_Button*>(w))
        return nullptr;
    if (jobRunning())
        return "Wait for the command under way to end";
    switch (linker().state()) {
    case LinkState::Refused:
        return "This linker was refused (see the log): plug in another";
    case LinkState::Ready:
        return nullptr;
    default:
        return "Plug in the linker";
    }
}

static void (*g_toolkitEnter)(Fl_Widget*) = nullptr;

static void enterWidget(Fl_Widget* w)
{
    if (const char* why = whyOff(w))
        Fl_Tooltip::enter_area(w, 0, 0, w->w(), w->h(), why);
    else
        g_toolkitEnter(w);
}

void explainOffButtons()
{
    if (g_toolkitEnter)
        return;
    g_toolkitEnter = Fl_Tooltip::enter;
    Fl_Tooltip::enter = enterWidget;
}
