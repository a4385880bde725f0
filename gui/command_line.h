// The window program's own options, looked at before any window opens.
#pragma once

#include <iosfwd>

// Answers --help, -h and --version on `out`, refuses anything that is
// neither one of them nor a toolkit option on `err`. Returns the exit
// status when the program is to end there, or -1 to open the window, which
// applies the toolkit options given.
int windowCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
