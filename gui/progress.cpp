#include "gui/progress.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>

#include "core/link/clock.h"
#include "gui/log.h"

Fl_Double_Window* progress_window = nullptr;
Fl_Progress* progress_bar = nullptr;
Fl_Button* progress_button = nullptr;
Fl_Box* progress_stage = nullptr;

static const Fl_Color PROGRESS_FILL = 218;  // 0x00, 0x48, 0xFF in the colour map
static bool g_held = false;
static bool g_stopAsked = false;

int makeProgressWindow(const char* title)
{
    // Only one progress window at a time: a job that opens its second one
    // (erasing, then writing) must not leave the first behind.
    closeProgressWindow();
    progress_window = new Fl_Double_Window(267, 118);
    Fl_Box* frame = new Fl_Box(5, 5, 257, 108);
    frame->box(FL_THIN_DOWN_BOX);
    // Two lines above the bar: what the job works on, and its stage.
    progress_stage = new Fl_Box(10, 10, 247, 32);
    progress_stage->labelsize(12);
    progress_stage->align(FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    progress_bar = new Fl_Progress(25, 46, 220, 25, "Processing..");
    progress_bar->selection_color(PROGRESS_FILL);
    progress_bar->minimum(0.0f);
    progress_bar->maximum(1.0f);
    progress_button = new Fl_Button(65, 81, 130, 25, "Cancel");
    progress_button->callback(cb_progress_button);
    progress_window->end();
    progress_window->copy_label(title);
    progress_window->set_modal();
    progress_window->hotspot(progress_window);
    g_held = g_stopAsked = false;
    progress_window->show();
    return 0;
}

void updateProgressWindow(float fraction)
{
    if (!progress_bar)
        return;
    Fl::lock();
    progress_bar->value(fraction * (progress_bar->maximum() - progress_bar->minimum()));
    progress_bar->redraw();
    Fl::unlock();
}

double (*g_progressTextClock)() = steadyClockSeconds;

void setProgressText(const char* text)
{
    if (!progress_bar)
        return;
    Fl::lock();
    progress_bar->copy_label(text);
    progress_bar->redraw();
    Fl::unlock();
}

void setProgressStage(const char* text)
{
    if (!progress_stage)
        return;
    Fl::lock();
    progress_stage->copy_label(text);
    progress_window->redraw();
    Fl::unlock();
}

void holdProgressOnCancel(bool held)
{
    g_held = held;
    if (!held && g_stopAsked && progress_window)
        progress_window->hide();
}

void cancelProgress()
{
    if (!progress_window)
        return;
    if (!g_held) {
        progress_window->hide();
        return;
    }
    // What cannot stop now stops once it can; the window stays to say so.
    g_stopAsked = true;
    if (progress_button)
        progress_button->deactivate();
    // Said at once: the job may not report again before the erase ends.
    windowReporter().sayStopping();
}

bool progressStopAsked()
{
    return g_stopAsked;
}

void cb_progress_button(Fl_Widget* w, void* data)
{
    cancelProgress();
}

bool progressShown()
{
    return progress_window && progress_window->shown() && !g_stopAsked;
}

void closeProgressWindow()
{
    if (!progress_window)
        return;
    delete progress_window;
    progress_window = nullptr;
    progress_bar = nullptr;
    progress_button = nullptr;
    progress_stage = nullptr;
    g_held = g_stopAsked = false;
}
