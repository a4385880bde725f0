#include "gui/input.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

Fl_Double_Window* input_window = nullptr;
Fl_Input* input_number = nullptr;
const char* G_input_value = nullptr;
const char* (*g_inputHook)(const char* prompt) = nullptr;

int makeInputWindow(const char* prompt)
{
    if (g_inputHook) {
        const char* typed = g_inputHook(prompt);
        return typed ? inputTextToNumber(typed) : -1;
    }

    input_window = new Fl_Double_Window(267, 84, "Enter a number");
    Fl_Box* frame = new Fl_Box(5, 5, 255, 75);
    frame->box(FL_THIN_DOWN_BOX);
    input_number = new Fl_Input(72, 27, 128, 24);
    input_number->value("0x");
    input_number->callback(cb_input_number);
    input_number->when(FL_WHEN_ENTER_KEY);
    input_window->end();
    input_window->copy_label(prompt);
    input_window->set_modal();

    G_input_value = nullptr;
    input_window->hotspot(input_window);
    input_window->show();
    while (input_window->shown() && !G_input_value)
        Fl::wait();

    int result = G_input_value ? inputTextToNumber(G_input_value) : -1;
    delete input_window;
    input_window = nullptr;
    input_number = nullptr;
    G_input_value = nullptr;
    return result;
}

void cb_input_number(Fl_Widget* w, void* data)
{
    G_input_value = input_number->value();
}
