// "Saves": a window over the vault, every safety copy and save-game backup
// by game, from which one is written back, deleted or shown in its folder.
#pragma once

#include <functional>
#include <string>

class Fl_Double_Window;
class Fl_Hold_Browser;
class Fl_Output;
class Fl_Button;
class Fl_Widget;

extern Fl_Double_Window* savesWindow;
extern Fl_Hold_Browser* savesList;
extern Fl_Output* savesPath;  // the selected entry's file, whole
extern Fl_Button* savesWriteButton;
extern Fl_Button* savesDeleteButton;
extern Fl_Button* savesFolderButton;
extern Fl_Button* savesCloseButton;

// The main window's "Saves" button: opens the window and waits, serving
// events, until it is closed; the window is then destroyed.
void cb_saves_button(Fl_Widget* w, void* data);
void cb_savesList(Fl_Widget* w, void* data);
void cb_savesWriteButton(Fl_Widget* w, void* data);
void cb_savesDeleteButton(Fl_Widget* w, void* data);
void cb_savesFolderButton(Fl_Widget* w, void* data);
void cb_savesCloseButton(Fl_Widget* w, void* data);

// Shows a folder in the user's file manager and returns at once; false, with
// errno, when it could not be started. Tests put a recorder here.
extern std::function<bool(const std::string& folder)> g_openFolder;
