// The write settings and the window that changes them. Turbo Mode, Write_N
// and Write Processing start at their defaults every run; what to erase and
// whether to verify after writing are remembered between runs.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"

class Fl_Double_Window;
class Fl_Choice;
class Fl_Button;
class Fl_Widget;
class Fl_Window;

// The window's own write settings, which the Preferences window changes;
// each job is handed a copy.
WriteSettings& windowSettings();

extern Fl_Double_Window* prefsWindow;
extern Fl_Choice* prefsUnlockButton;
extern Fl_Choice* prefsWriteNButton;
extern Fl_Choice* prefsWriteModeButton;
extern Fl_Choice* prefsEraseButton;
extern Fl_Choice* prefsVerifyButton;
extern Fl_Choice* prefsReadTwiceButton;
extern Fl_Button* PrefsCloseButton;

int makePrefsWindow();
void cb_preferences(Fl_Widget* w, void* data);
// Any of the setting menus: its row of the settings table is its data.
void cb_prefsMenu(Fl_Widget* w, void* data);
void cb_PrefsCloseButton(Fl_Widget* w, void* data);

bool isPrefsWindow(const Fl_Window* w);

// The remembered settings, read at start-up, written on every pick.
void loadRememberedSettings();
void rememberSettings();
// The folder last used for one kind of file ("" when none yet).
std::string rememberedFolder(const char* what);
void rememberFolder(const char* what, const std::string& folder);
// The settings as the window holds them now, for the job about to run.
inline WriteSettings prefsSettings() { return windowSettings(); }
