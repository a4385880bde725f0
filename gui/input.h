// The modal window that asks the user for one number.
#pragma once

#include <cstdint>

// exactNumberFromText, the reading the window applies to the text entered,
// is shared with the command line.
#include "core/number_text.h"

class Fl_Double_Window;
class Fl_Input;
class Fl_Box;
class Fl_Widget;

extern Fl_Double_Window* input_window;
extern Fl_Input* input_number;
extern Fl_Box* input_note;  // the line under the field: how to answer, or why not
extern const char* G_input_value;

extern const char* const INPUT_HINT;
extern const char* const INPUT_REFUSED;

// Shows the prompt and the range of valid answers inside the window and
// waits for a number: decimal, or hex after a leading "0x"/"0X", the whole
// text and nothing else. Text that is not one is refused in the window,
// which stays open. False when the window was closed unanswered (Escape).
bool makeInputWindow(const char* prompt, const char* range, uint32_t* value);
void cb_input_number(Fl_Widget* w, void* data);

// Answers in place of the window when set: tests script what the user types
// here. Returns the text entered, or null for a window closed unanswered;
// text the window would refuse is followed by the next answer.
extern const char* (*g_inputHook)(const char* prompt);
