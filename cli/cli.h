// pockettetherbox-cli: each of the window's commands as a command of its own,
// run on the same jobs, with an exit status a script can act on.
#pragma once

#include <functional>
#include <iosfwd>

enum CliStatus {
    CLI_DONE = 0,       // the job ended done (Verify: at most a save area differed)
    CLI_FAILED = 1,     // it failed, was refused, cancelled or found a difference
    CLI_USAGE = 2,      // the command line itself was wrong
    CLI_NO_LINKER = 3,  // no linker answered, its firmware was refused, or it vanished
    CLI_INTERRUPTED = 130,  // Ctrl-C while waiting for a linker (128 + SIGINT, as a shell says)
};

// Where the command line speaks.
struct CliIo {
    std::ostream& out;  // the job's log lines, help and the version
    std::ostream& err;  // usage errors, the link's start-up and shut-down lines, the bar
    int barColumns;     // width of the terminal behind `err`; 0: no bar
    double (*wallClock)();
    // Called after every breath of the link's start-up and of the job.
    std::function<void()> afterBreath;
};

// The whole program, minus what only a process does; returns the exit status.
int runCli(int argc, const char* const argv[], const CliIo& io);
