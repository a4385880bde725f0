// The main window: the log on the left, the command buttons on the right.
#pragma once

class Fl_Double_Window;
class Fl_Group;
class Fl_Button;
class Fl_Window;
class Link;

extern Fl_Double_Window* window;
extern Fl_Group* operations_group;
extern Fl_Button* saves_button;
extern Fl_Button* preferences;

constexpr int BANNER_MAJOR = 1;
constexpr int BANNER_MINOR = 2;
constexpr int BANNER_BUILD = 1001;

// Builds the window with its buttons disabled; does not show it.
void buildMainWindow();
// Everything main does before the event loop: window shown, banner, link,
// first cartridge check, and from then on an eye on the linker coming and
// going. Returns whether the link is ready.
bool startUp();
// How the window greets every linker that becomes ready, before any button
// works: the cartridge check, as Cart Info runs it.
void greetWithCartCheck(Link& link);
// The toolkit's window-close hook.
void closingDown(Fl_Window* w, void* data);
// Lets the linker go and closes the main window, which ends the event loop.
void shutDown();
