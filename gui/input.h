// The modal window that asks the user for one number.
#pragma once

// inputTextToNumber, the conversion the window applies to the text entered,
// is shared with the command line.
#include "core/number_text.h"

class Fl_Double_Window;
class Fl_Input;
class Fl_Widget;

extern Fl_Double_Window* input_window;
extern Fl_Input* input_number;
extern const char* G_input_value;

// Returns the number typed (hex after a leading "0x"/"0X", decimal
// otherwise), or -1 when the window was closed without an answer.
int makeInputWindow(const char* prompt);
void cb_input_number(Fl_Widget* w, void* data);

// Answers in place of the window when set: tests script what the user types
// here. Returns the text entered, or null for a window closed unanswered.
extern const char* (*g_inputHook)(const char* prompt);
