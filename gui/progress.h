// The modal progress window every long job shows; hiding it (Cancel, the
// close control, Escape) is how the user cancels.
#pragma once

#include <functional>

class Fl_Double_Window;
class Fl_Progress;
class Fl_Button;
class Fl_Widget;
class Fl_Box;

extern Fl_Double_Window* progress_window;
extern Fl_Progress* progress_bar;
extern Fl_Button* progress_button;
extern Fl_Box* progress_stage;

int makeProgressWindow(const char* title);
void updateProgressWindow(float fraction);
// The words inside the bar in place of its label: how far, how fast, how
// long still (see core/progress_rate.h).
void setProgressText(const char* text);
// Paces the bar and its words: the wall clock, since redrawing is what it
// spares; tests swap in a clock of their own.
extern double (*g_progressTextClock)();
// The lines above the bar: what the job works on and where it stands.
void setProgressStage(const char* text);
void cb_progress_button(Fl_Widget* w, void* data);

// Cancel, the close control and Escape: the window is hidden, unless the job
// holds it through a stretch that cannot be stopped, when the stop waits and
// the window stays up and sayStopping says so.
void cancelProgress();
void holdProgressOnCancel(bool held, std::function<void()> sayStopping);
// Whether a Cancel is waiting for a held stretch to end.
bool progressStopAsked();

// True while the job's progress window is shown and no stop was asked;
// false once the user cancelled.
bool progressShown();
// Destroys the progress window, if any, and clears progress_window.
void closeProgressWindow();
