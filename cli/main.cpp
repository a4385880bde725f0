#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/cli.h"
#include "core/app_folders.h"
#include "core/link/clock.h"

// The bar is drawn only when someone watches: standard error is a terminal.
static int terminalColumns()
{
    if (!isatty(STDERR_FILENO))
        return 0;
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

int main(int argc, char** argv)
{
#ifdef PTB_SIMULATED_LINKER
    useSimulatorFolders();
#endif
    // A reader that goes away (`| head`) must not kill a flash half-way: the
    // job carries on, its lines going nowhere.
    signal(SIGPIPE, SIG_IGN);
    CliIo io{std::cout, std::cerr, terminalColumns(), steadyClockSeconds, nullptr};
    return runCli(argc, argv, io);
}
