#include "gui/input.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

Fl_Double_Window* input_window = nullptr;
Fl_Input* input_number = nullptr;
Fl_Box* input_note = nullptr;
const char* G_input_value = nullptr;
const char* (*g_inputHook)(const char* prompt) = nullptr;

const char* const INPUT_HINT = "Enter to accept, Escape to cancel";
const char* const INPUT_REFUSED = "Not a number: decimal, or hex after 0x";

static Fl_Box* textLine(int y, int h, const char* text, int size)
{
    Fl_Box* b = new Fl_Box(10, y, 247, h);
    b->copy_label(text);
    b->labelsize(size);
    b->align(FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    return b;
}

bool makeInputWindow(const char* prompt, const char* range, uint32_t* value)
{
    if (g_inputHook) {
        // What the window would refuse is typed again.
        while (const char* typed = g_inputHook(prompt))
            if (exactNumberFromText(typed, value))
                return true;
        return false;
    }

    input_window = new Fl_Double_Window(267, 124, "Enter a number");
    Fl_Box* frame = new Fl_Box(5, 5, 257, 114);
    frame->box(FL_THIN_DOWN_BOX);
    textLine(10, 22, prompt, 14);
    textLine(32, 18, range, 12);
    input_number = new Fl_Input(72, 55, 128, 24);
    input_number->value("0x");
    input_number->callback(cb_input_number);
    input_number->when(FL_WHEN_ENTER_KEY);
    input_note = textLine(88, 24, INPUT_HINT, 12);
    input_window->end();
    input_window->copy_label(prompt);
    input_window->set_modal();

    G_input_value = nullptr;
    input_window->hotspot(input_window);
    input_window->show();
    while (input_window->shown() && !G_input_value)
        Fl::wait();
    bool answered = G_input_value && exactNumberFromText(G_input_value, value);

    delete input_window;
    input_window = nullptr;
    input_number = nullptr;
    input_note = nullptr;
    G_input_value = nullptr;
    return answered;
}

// The command line's reading: "12ab" is no 12, "zz" no 0. Refused text
// stays in the field to be mended, and the line under it says why.
void cb_input_number(Fl_Widget* w, void* data)
{
    uint32_t value;
    if (exactNumberFromText(input_number->value(), &value)) {
        G_input_value = input_number->value();
        return;
    }
    input_note->label(INPUT_REFUSED);
    input_window->redraw();
}
