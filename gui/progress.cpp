#include "gui/progress.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <functional>

#include "core/link/clock.h"

Fl_Double_Window* progress_window = nullptr;
Fl_Progress* progress_bar = nullptr;
Fl_Button* progress_button = nullptr;
Fl_Box* progress_stage = nullptr;

static const Fl_Color PROGRESS_FILL = 218;  // 0x00, 0x48, 0xFF in the colour map
static bool g_held = false;
// What the window says when a Cancel meets the held stretch.
static std::function<void()> g_sayStopping;
static bool g_stopAsked = false;

// The built size; the window only ever grows from it, to hold its texts.
static const int PROGRESS_W = 267, PROGRESS_H = 118, STAGE_H = 32, BAR_W = 220, CANCEL_W = 130;

// Lays the window out at w x h: the lines above the bar take what the
// window gains, while the bar and Cancel stay centred at the same distance
// from its foot.
static void layOutProgress(int w, int h, int barW)
{
    progress_window->child(0)->resize(5, 5, w - 10, h - 10);
    progress_stage->resize(10, 10, w - 20, h - PROGRESS_H + STAGE_H);
    progress_bar->resize((w - barW + 3) / 2, h - 72, barW, 25);
    progress_button->resize((w - CANCEL_W) / 2 - 3, h - 37, CANCEL_W, 25);
}

// A text cut at both ends reads as nothing: the window grows to hold the
// lines above the bar and the words in it, and grows about its centre so it
// stays where the user looks.
static void fitProgressTexts()
{
    if (!progress_window)
        return;
    int stageW = 0, stageH = 0, barW = 0, barH = 0;
    fl_font(progress_stage->labelfont(), progress_stage->labelsize());
    fl_measure(progress_stage->label() ? progress_stage->label() : "", stageW, stageH);
    fl_font(progress_bar->labelfont(), progress_bar->labelsize());
    fl_measure(progress_bar->label() ? progress_bar->label() : "", barW, barH);
    barW = std::max(progress_bar->w(), barW + 16);
    const int w = std::max({progress_window->w(), stageW + 24, barW + PROGRESS_W - BAR_W});
    const int h = std::max(progress_window->h(), stageH + 4 + PROGRESS_H - STAGE_H);
    if (w == progress_window->w() && h == progress_window->h() && barW == progress_bar->w())
        return;
    const int x = progress_window->x() - (w - progress_window->w()) / 2;
    const int y = progress_window->y() - (h - progress_window->h()) / 2;
    progress_window->resize(x, y, w, h);
    layOutProgress(w, h, barW);
    progress_window->redraw();
}

int makeProgressWindow(const char* title)
{
    // Only one progress window at a time: a job that opens its second one
    // (erasing, then writing) must not leave the first behind.
    closeProgressWindow();
    progress_window = new Fl_Double_Window(PROGRESS_W, PROGRESS_H);
    Fl_Box* frame = new Fl_Box(0, 0, 0, 0);
    frame->box(FL_THIN_DOWN_BOX);
    // Two lines above the bar: what the job works on, and its stage.
    progress_stage = new Fl_Box(0, 0, 0, 0);
    progress_stage->labelsize(12);
    progress_stage->align(FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    progress_bar = new Fl_Progress(0, 0, 0, 0, "Processing..");
    progress_bar->selection_color(PROGRESS_FILL);
    progress_bar->minimum(0.0f);
    progress_bar->maximum(1.0f);
    progress_button = new Fl_Button(0, 0, 0, 0, "Cancel");
    progress_button->callback(cb_progress_button);
    progress_window->end();
    layOutProgress(PROGRESS_W, PROGRESS_H, BAR_W);
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
    fitProgressTexts();
    progress_bar->redraw();
    Fl::unlock();
}

void setProgressStage(const char* text)
{
    if (!progress_stage)
        return;
    Fl::lock();
    progress_stage->copy_label(text);
    fitProgressTexts();
    progress_window->redraw();
    Fl::unlock();
}

void holdProgressOnCancel(bool held, std::function<void()> sayStopping)
{
    g_held = held;
    g_sayStopping = held ? std::move(sayStopping) : nullptr;
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
    if (g_sayStopping)
        g_sayStopping();
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
    g_sayStopping = nullptr;
}
