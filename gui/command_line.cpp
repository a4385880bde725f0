#include "gui/command_line.h"

#include <FL/Fl.H>

#include <cstring>
#include <ostream>

#include "version.h"

static const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static void usage(std::ostream& out, const char* name)
{
    out << "Usage: " << name << " [-h | --help | --version] [FLTK options]\n"
        << "Opens the PocketTetherbox window, which drives the Tetherbox linker and the\n"
        << "Neo Geo Pocket cartridge in it. The same jobs run without a window from\n"
        << "pockettetherbox-cli.\n\n"
        << "Options:\n"
        << "  -h, --help   show this help and exit\n"
        << "  --version    show the version and the licence, and exit\n\n"
        << "FLTK options, handed on to the toolkit (the bracketed part may be left out):\n"
        << Fl::help << "\n";
}

int windowCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err)
{
    const char* name = argc > 0 ? baseName(argv[0]) : "pockettetherbox";
    for (int i = 1; i < argc;) {
        const char* a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            usage(out, name);
            return 0;
        }
        if (strcmp(a, "--version") == 0) {
            out << name << " " << PTB_VERSION << "\n" << PTB_LICENCE_NOTICE << "\n";
            return 0;
        }
        // The toolkit takes what it knows, with its value, and keeps it for
        // the window; it takes nothing it does not know or cannot read.
        int taken = Fl::arg(argc, argv, i);
        if (taken > 0)
            continue;
        if (a[0] == '-')
            err << name << ": '" << a << "' is no option of this program or of FLTK, or its value is missing or wrong\n";
        else
            err << name << ": '" << a << "': the window program takes no arguments; pockettetherbox-cli runs a job on a file\n";
        err << "Try '" << name << " --help'.\n";
        return 2;
    }
    return -1;
}
