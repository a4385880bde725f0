#include "gui/ask.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>

#include "gui/one_job.h"

static const int PAD = 10, BUTTON_W = 100, BUTTON_H = 25, MIN_TEXT_W = 2 * BUTTON_W + PAD;

static void answered(Fl_Widget* w, void* risky)
{
    w->window()->user_data(risky);
    w->window()->hide();
}

static void closedWithoutAnswer(Fl_Widget* w, void*)
{
    w->user_data(nullptr);
    w->hide();
}

// The toolkit sends a key no widget took as a shortcut to the window under
// the mouse, which need not be the question: its answers are given their
// keys here, wherever the pointer is.
static Fl_Window* g_asking = nullptr;
static Fl_Button *g_keep = nullptr, *g_act = nullptr;

static int answerKeys(int event)
{
    if (event != FL_SHORTCUT || !g_asking || Fl::modal() != g_asking)
        return 0;
    const int key = Fl::event_key();
    if (key == FL_Enter || key == FL_KP_Enter)
        g_keep->do_callback();
    else if (g_act->test_shortcut())
        g_act->do_callback();
    else
        return 0;
    return 1;
}

bool askBeforeRisk(const std::string& title, const std::string& question, const char* safe, const char* risky)
{
    fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
    int textW = 0, textH = 0;
    fl_measure(question.c_str(), textW, textH);
    textW = std::max(textW, MIN_TEXT_W);
    const int winW = textW + 2 * PAD, winH = textH + 3 * PAD + BUTTON_H;

    Fl_Double_Window dialog(winW, winH);
    dialog.copy_label(title.c_str());
    Fl_Box* text = new Fl_Box(PAD, PAD, textW, textH);
    text->copy_label(question.c_str());
    text->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP);
    // The safe answer first: it also takes the keyboard focus, so Space
    // gives it too.
    const int buttonY = winH - PAD - BUTTON_H;
    Fl_Return_Button* keep = new Fl_Return_Button(winW - PAD - BUTTON_W, buttonY, BUTTON_W, BUTTON_H);
    keep->copy_label(safe);
    keep->callback(answered, nullptr);
    Fl_Button* act = new Fl_Button(winW - 2 * (PAD + BUTTON_W), buttonY, BUTTON_W, BUTTON_H);
    act->copy_label(risky);
    act->callback(answered, act);
    dialog.end();
    dialog.callback(closedWithoutAnswer);
    dialog.user_data(nullptr);
    dialog.set_modal();
    dialog.hotspot(keep);
    dialog.show();
    keep->take_focus();
    g_asking = &dialog, g_keep = keep, g_act = act;
    Fl::add_handler(answerKeys);
    while (dialog.shown())
        Fl::wait();
    Fl::remove_handler(answerKeys);
    g_asking = nullptr;
    return dialog.user_data() == act && !closeRequested();
}
