#include "ops/commands.h"

void cb_writeSaveGame_button(Fl_Widget* w, void* data)
{
}
