// Reaching a widget inside a window the way a user finds it: by its kind
// and, where several share it, by its label.
#pragma once

#include <FL/Fl_Group.H>
#include <FL/Fl_Widget.H>

#include <cstring>

template <class W>
W* findIn(Fl_Group* g, const char* label = nullptr)
{
    for (int i = 0; i < g->children(); i++) {
        Fl_Widget* c = g->child(i);
        if (W* w = dynamic_cast<W*>(c))
            if (!label || (c->label() && strcmp(c->label(), label) == 0))
                return w;
        if (Fl_Group* inner = c->as_group())
            if (W* w = findIn<W>(inner, label))
                return w;
    }
    return nullptr;
}
