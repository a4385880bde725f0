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

extern uint8_t G_unlockBypassMode;  // Turbo Mode
extern int write_N;                 // chunk size of Flash ROM(s)
extern int skipChip;                // -1: none, 0 or 1: that chip is not written
extern EraseScope eraseScope;       // what Flash ROM(s) erases
extern bool verifyAfterWrite;       // Flash ROM(s) reads back what it wrote

extern Fl_Double_Window* prefsWindow;
extern Fl_Choice* prefsUnlockButton;
extern Fl_Choice* prefsWriteNButton;
extern Fl_Choice* prefsWriteModeButton;
extern Fl_Choice* prefsEraseButton;
extern Fl_Choice* prefsVerifyButton;
extern Fl_Button* PrefsCloseButton;

int makePrefsWindow();
void cb_preferences(Fl_Widget* w, void* data);
void cb_prefsUnlockButton(Fl_Widget* w, void* data);
void cb_prefsWriteNButton(Fl_Widget* w, void* data);
void cb_prefsWriteModeButton(Fl_Widget* w, void* data);
void cb_prefsEraseButton(Fl_Widget* w, void* data);
void cb_prefsVerifyButton(Fl_Widget* w, void* data);
void cb_PrefsCloseButton(Fl_Widget* w, void* data);

bool isPrefsWindow(const Fl_Window* w);

// The remembered settings, read at start-up, written on every pick.
void loadRememberedSettings();
void rememberSettings();
// The folder last used for one kind of file ("" when none yet).
std::string rememberedFolder(const char* what);
void rememberFolder(const char* what, const std::string& folder);
// The settings as the window holds them now, for the job about to run.
WriteSettings prefsSettings();
