// The three write settings and the window that changes them. They start at
// their defaults every run and are never saved.
#pragma once

#include <cstdint>

#include "core/settings.h"

class Fl_Double_Window;
class Fl_Choice;
class Fl_Button;
class Fl_Widget;
class Fl_Window;

extern uint8_t G_unlockBypassMode;  // Turbo Mode
extern int write_N;                 // chunk size of Flash ROM(s)
extern int skipChip;                // -1: none, 0 or 1: that chip is not written

extern Fl_Double_Window* prefsWindow;
extern Fl_Choice* prefsUnlockButton;
extern Fl_Choice* prefsWriteNButton;
extern Fl_Choice* prefsWriteModeButton;
extern Fl_Button* PrefsCloseButton;

int makePrefsWindow();
void cb_preferences(Fl_Widget* w, void* data);
void cb_prefsUnlockButton(Fl_Widget* w, void* data);
void cb_prefsWriteNButton(Fl_Widget* w, void* data);
void cb_prefsWriteModeButton(Fl_Widget* w, void* data);
void cb_PrefsCloseButton(Fl_Widget* w, void* data);

bool isPrefsWindow(const Fl_Window* w);
// The settings as the window holds them now, for the job about to run.
WriteSettings prefsSettings();
