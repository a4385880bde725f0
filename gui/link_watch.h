// The window's side of the linker coming and going: the Linker looks
// whenever libusb has news of a device (or once a second where it cannot
// tell), never inside a job, and the buttons follow what it finds.
#pragma once

class Fl_Group;
class Fl_Widget;

// The buttons that follow the linker, and the one among them that works
// without it; the main window hands them over as it is built.
void linkButtons(Fl_Group* buttons, Fl_Widget* alwaysOn);

// Starts listening, after start-up has opened the link.
void watchLinker();
// Between jobs: lets the Linker look now. A job's end calls it, since
// whatever happened during the job waited for it.
void lookAtLinker();
// The program is closing down.
void stopWatchingLinker();
// Whether the window looks once a second (libusb tells of no arrivals).
bool lookingEverySecond();
// Whether a linker just plugged in, not yet usable, is to be tried again.
bool tryingAgainSoon();
