// Windows and menus that open where the user can see all of them.
#pragma once

#include <FL/Fl_Choice.H>

class Fl_Window;

// A choice menu whose list opens on the screen. The toolkit lines the list
// up so the chosen item sits on the menu, which for a long list (Write_N)
// puts its first items above the top of the screen.
class OnScreenChoice : public Fl_Choice {
public:
    using Fl_Choice::Fl_Choice;
    int handle(int event) override;
};

// Shows `w` beside `main` (right, else left), top edges level, where the
// screen has room for it; otherwise centred on the mouse pointer.
void placeBeside(Fl_Window* w, const Fl_Window* main);
