#include "ops/commands.h"

void cb_loadROMs_button(Fl_Widget* w, void* data)
{
}
