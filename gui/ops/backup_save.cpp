#include "ops/commands.h"

void cb_backupSaveGame_button(Fl_Widget* w, void* data)
{
}
