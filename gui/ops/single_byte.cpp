#include "ops/commands.h"

void cb_readByte_button(Fl_Widget* w, void* data)
{
}

void cb_writeByte_button(Fl_Widget* w, void* data)
{
}
