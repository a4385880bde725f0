// The window program's command line, answered before any window opens, and
// the preferences of the program on the simulated linker kept apart.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/app_folders.h"
#include "gui/command_line.h"
#include "gui/prefs.h"
#include "version.h"

TEST(WindowProgram, AnswersItsOwnOptionsHandsOnTheToolkitsAndRefusesTheRest)
{
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // what the answer starts with; "" for nothing at all
    } cases[] = {
        {{"--version"}, 0, std::string("pockettetherbox ") + PTB_VERSION + "\n" + PTB_LICENCE_NOTICE + "\n", ""},
        {{"-scheme", "gtk+", "-h"}, 0, "Usage: pockettetherbox [-h | --help | --version] [FLTK options]\n", ""},
        {{"-scheme", "gtk+", "-title", "Shelf"}, -1, "", ""},
        {{"--verbose"}, 2, "", "pockettetherbox: '--verbose' is no option of this program or of FLTK"},
        {{"-geometry", "huge"}, 2, "", "pockettetherbox: '-geometry' is no option"},
        {{"game.ngp"}, 2, "", "pockettetherbox: 'game.ngp': the window program takes no arguments"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "/usr/bin/pockettetherbox");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        std::ostringstream out, err;
        EXPECT_EQ(windowCommandLine(int(argv.size()), argv.data(), out, err), c.status) << c.args[0];
        EXPECT_EQ(out.str().rfind(c.out, 0) == 0 && out.str().empty() == c.out.empty(), true) << out.str();
        EXPECT_EQ(err.str().rfind(c.err, 0) == 0 && err.str().empty() == c.err.empty(), true) << err.str();
    }
}

// What the program on the simulated linker remembers goes to its own
// preferences file; the user's is not even created.
TEST(WindowProgram, TheSimulatorsPreferencesAreItsOwn)
{
    namespace fs = std::filesystem;
    std::string home = fs::temp_directory_path() / ("ptb-prefs-" + std::to_string(getpid()));
    fs::create_directories(home);
    std::string oldHome = getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    useSimulatorFolders();
    rememberFolder("test", "/simulated/folder");
    EXPECT_EQ(rememberedFolder("test"), "/simulated/folder");
    useSimulatorFolders(false);
    setenv("HOME", oldHome.c_str(), 1);
    EXPECT_TRUE(fs::exists(home + "/.fltk/pockettetherbox-sim/pockettetherbox-sim.prefs"));
    EXPECT_FALSE(fs::exists(home + "/.fltk/pockettetherbox"));
    fs::remove_all(home);
}
