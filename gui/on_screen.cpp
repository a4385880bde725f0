#include "gui/on_screen.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>

// The toolkit's menu rows: the font's height and 4 pixels of leading, in a
// frame 3 pixels thick.
static const int MENU_LEADING = 4, MENU_FRAME = 3;

int OnScreenChoice::handle(int event)
{
    const bool opens = (event == FL_PUSH && Fl::event_button() != FL_MIDDLE_MOUSE) ||
                       (event == FL_KEYBOARD && Fl::event_key() == ' ' && Fl::focus() == this);
    if (!opens || !menu() || !menu()->text || !active_r())
        return Fl_Choice::handle(event);
    if (Fl::visible_focus())
        Fl::focus(this);
    fl_font(textfont(), textsize());
    const int row = fl_height() + MENU_LEADING, rows = menu()->size() - 1;
    const int listH = rows * row + 2 * MENU_FRAME;
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, window()->x() + x(), window()->y() + y());
    // Where the toolkit would put the list's top, and where it fits.
    const int ownTop = window()->y() + y() - std::max(0, value()) * row;
    const int top = std::max(sy, std::min(ownTop, sy + sh - listH));
    const Fl_Menu_Item* v = menu()->pulldown(x(), y() + top - ownTop, w(), h(), mvalue(), this);
    if (!v || v->submenu())
        return 1;
    if (v != mvalue())
        redraw();
    picked(v);
    return 1;
}

void placeBeside(Fl_Window* w, const Fl_Window* main)
{
    // Room for the window manager's frame between the two.
    const int GAP = 12;
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, main->x(), main->y());
    const int y = std::max(sy, std::min(main->y(), sy + sh - w->h()));
    if (main->x() + main->w() + GAP + w->w() <= sx + sw)
        w->position(main->x() + main->w() + GAP, y);
    else if (main->x() - GAP - w->w() >= sx)
        w->position(main->x() - GAP - w->w(), y);
    else
        w->hotspot(w);
}
