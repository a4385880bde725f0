// The command line run in-process on the simulated linker: both streams
// captured, the status returned, a hook at every breath of a job.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/cli.h"
#include "support/device.h"

struct CliRun {
    int status;
    std::string out, err;
    std::string lastLine() const { return lineFromEnd(0); }
    // Standard output's last lines, '\n' between them.
    std::string lastLines(int n) const
    {
        std::string lines;
        for (int i = n - 1; i >= 0; i--)
            lines += lineFromEnd(i) + (i ? "\n" : "");
        return lines;
    }
    // The n-th line before the last one on standard output.
    std::string lineFromEnd(int n) const
    {
        std::string lines = out.substr(0, out.size() - 1);  // less the final break
        for (; n > 0 && lines.rfind('\n') != std::string::npos; n--)
            lines.erase(lines.rfind('\n'));
        return lines.substr(lines.rfind('\n') + 1);
    }
};

inline double g_fakeNow = 0.0, g_fakeTick = 0.0;

inline std::string scratchFolder()
{
    char name[] = "/tmp/ptb-cli-test-XXXXXX";
    return mkdtemp(name);
}

class CliTest : public ::testing::Test {
protected:
    std::function<void(int)> atBreath;  // after the n-th breath, start-up's included
    std::string program = "pockettetherbox-cli";  // as the shell started it
    std::string folder = scratchFolder();

    // Safety copies go to the test's folder, never the user's own.
    void SetUp() override { setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1); }
    void TearDown() override
    {
        unsetenv("XDG_DATA_HOME");
        std::filesystem::remove_all(folder);
    }

    // A fresh linker holding `cart`, whose erases finish within a few polls.
    void plug(const std::string& cart)
    {
        sim::reset();
        ASSERT_TRUE(sim::insertCart(cart));
        sim::setEraseTimes(0.001, 0.004);
    }

    // `columns` > 0 draws the bar as on a terminal that wide, paced by a
    // clock that moves `tick` seconds each time it is read.
    CliRun run(std::vector<std::string> args, int columns = 0, double tick = 0.0)
    {
        args.insert(args.begin(), program);
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        g_fakeNow = 0.0;
        g_fakeTick = tick;
        int breaths = 0;
        CliIo io{out, err, columns, [] { return g_fakeNow += g_fakeTick; }, [&] {
                     if (atBreath)
                         atBreath(++breaths);
                 }};
        int status = runCli(int(argv.size()), argv.data(), io);
        return CliRun{status, out.str(), err.str()};
    }
};
