#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <iostream>

#include "core/app_folders.h"
#include "gui/command_line.h"
#include "gui/main_window.h"

int main(int argc, char** argv)
{
#ifdef PTB_SIMULATED_LINKER
    useSimulatorFolders();
#endif
    int status = windowCommandLine(argc, argv, std::cout, std::cerr);
    if (status >= 0)
        return status;
    startUp();
    window->show(argc, argv);
    return Fl::run();
}
