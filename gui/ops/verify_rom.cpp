#include "ops/commands.h"

void cb_verify_button(Fl_Widget* w, void* data)
{
}
