#include "gui/progress.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>

Fl_Double_Window* progress_window = nullptr;
Fl_Progress* progress_bar = nullptr;
Fl_Button* progress_button = nullptr;

static const Fl_Color PROGRESS_FILL = 218;  // 0x00, 0x48, 0xFF in the colour map

int makeProgressWindow(const char* title)
{
    // Only one progress window at a time: a job that opens its second one
    // (erasing, then writing) must not leave the first behind.
    closeProgressWindow();
    progress_window = new Fl_Double_Window(267, 84);
    Fl_Box* frame = new Fl_Box(5, 5, 255, 75);
    frame->box(FL_THIN_DOWN_BOX);
    progress_bar = new Fl_Progress(25, 14, 220, 25, "Processing..");
    progress_bar->selection_color(PROGRESS_FILL);
    progress_bar->minimum(0.0f);
    progress_bar->maximum(1.0f);
    progress_button = new Fl_Button(65, 47, 130, 25, "Cancel");
    progress_button->callback(cb_progress_button);
    progress_window->end();
    progress_window->copy_label(title);
    progress_window->set_modal();
    progress_window->hotspot(progress_window);
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

void cb_progress_button(Fl_Widget* w, void* data)
{
    if (progress_window)
        progress_window->hide();
}

bool progressShown()
{
    return progress_window && progress_window->shown();
}

void closeProgressWindow()
{
    if (!progress_window)
        return;
    delete progress_window;
    progress_window = nullptr;
    progress_bar = nullptr;
    progress_button = nullptr;
}
