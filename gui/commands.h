// The main window's command buttons, one per row of the command table that
// has a button; each asks for what its job needs and runs it
// (gui/commands.cpp).
#pragma once

class Fl_Widget;

// Every command button's callback; its data is the command's row.
void cb_command_button(Fl_Widget* w, void* row);

// The same for one command each, for code that presses a button by name.
void cb_loadROMs_button(Fl_Widget* w, void* data);
void cb_verify_button(Fl_Widget* w, void* data);
void cb_backupROM_button(Fl_Widget* w, void* data);
void cb_backupSaveGame_button(Fl_Widget* w, void* data);
void cb_writeSaveGame_button(Fl_Widget* w, void* data);
void cb_getInfos_button(Fl_Widget* w, void* data);
void cb_protectedBlocks_button(Fl_Widget* w, void* data);
void cb_readByte_button(Fl_Widget* w, void* data);
void cb_writeByte_button(Fl_Widget* w, void* data);
