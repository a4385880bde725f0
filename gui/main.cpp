#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include "core/app_folders.h"
#include "gui/main_window.h"

int main(int argc, char** argv)
{
#ifdef PTB_SIMULATED_LINKER
    useSimulatorFolders();
#endif
    startUp();
    window->show(argc, argv);
    return Fl::run();
}
