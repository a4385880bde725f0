// The main window's command buttons, one per row of the command table that
// has a button; each asks for what its job needs and runs it
// (gui/commands.cpp).
#pragma once

class Fl_Widget;

// Every command button's callback; its data is the command's row.
void cb_command_button(Fl_Widget* w, void* row);
