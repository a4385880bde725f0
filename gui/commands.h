// The main window's command buttons; each asks for what its job needs and
// runs it (gui/commands.cpp).
#pragma once

class Fl_Widget;

void cb_loadROMs_button(Fl_Widget* w, void* data);
void cb_verify_button(Fl_Widget* w, void* data);
void cb_backupROM_button(Fl_Widget* w, void* data);
void cb_backupSaveGame_button(Fl_Widget* w, void* data);
void cb_writeSaveGame_button(Fl_Widget* w, void* data);
void cb_getInfos_button(Fl_Widget* w, void* data);
void cb_protectedBlocks_button(Fl_Widget* w, void* data);
void cb_readByte_button(Fl_Widget* w, void* data);
void cb_writeByte_button(Fl_Widget* w, void* data);
