#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include "gui/main_window.h"

int main(int argc, char** argv)
{
    startUp();
    window->show(argc, argv);
    return Fl::run();
}
