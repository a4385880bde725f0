// Over a greyed-out command button the tooltip says why it is off and what
// to do about it, in place of what the button would do.
#pragma once

class Fl_Widget;

// Why `w` takes no click now; null when it is on, or off for no reason the
// user can act on.
const char* whyOff(const Fl_Widget* w);

// Puts whyOff() in the toolkit's tooltips; once is enough.
void explainOffButtons();
