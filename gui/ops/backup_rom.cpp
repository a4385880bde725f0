#include "ops/commands.h"

void cb_backupROM_button(Fl_Widget* w, void* data)
{
}
