// Reaching a command as the window does: every command button has the one
// callback, given the command's row.
#pragma once

#include <FL/Fl_Button.H>

#include "core/commands.h"
#include "gui/commands.h"
#include "gui/main_window.h"
#include "support/find_widget.h"

// Runs the command named, as a click on its button runs it.
inline void clickCommand(const char* name)
{
    cb_command_button(nullptr, const_cast<CommandRow*>(findCommand(name)));
}

// The window's button for the command named, found by its label.
inline Fl_Button* commandButton(const char* name)
{
    return findIn<Fl_Button>(operations_group, findCommand(name)->button.label);
}
