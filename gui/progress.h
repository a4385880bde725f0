// The modal progress window every long job shows; hiding it (Cancel, the
// close control, Escape) is how the user cancels.
#pragma once

class Fl_Double_Window;
class Fl_Progress;
class Fl_Button;
class Fl_Widget;

extern Fl_Double_Window* progress_window;
extern Fl_Progress* progress_bar;
extern Fl_Button* progress_button;

int makeProgressWindow(const char* title);
void updateProgressWindow(float fraction);
void cb_progress_button(Fl_Widget* w, void* data);

// True while the job's progress window is shown; false once the user cancelled.
bool progressShown();
// Destroys the progress window, if any, and clears progress_window.
void closeProgressWindow();
