#include "support/cli_run.h"

#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "cli/cli.h"

Lines CliRun::outLines() const
{
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void CliTest::plug(const std::string& cart)
{
    sim::reset();
    ASSERT_TRUE(sim::insertCart(cart));
    sim::setEraseTimes(0.001, 0.004);
}

static double g_fakeNow = 0.0;
static double g_fakeTick = 0.0;

static double fakeClock()
{
    return g_fakeNow += g_fakeTick;
}

CliRun CliTest::run(const std::vector<std::string>& args, int columns, double tick)
{
    std::vector<const char*> argv{"pockettetherbox-cli"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    g_fakeNow = 0.0;
    g_fakeTick = tick;
    int breaths = 0;
    CliIo io{out, err, columns, fakeClock, [this, &breaths] {
                 if (atBreath)
                     atBreath(++breaths);
             }};
    int status = runCli(int(argv.size()), argv.data(), io);
    return CliRun{status, out.str(), err.str()};
}

std::string CliTest::scratch(const std::string& name)
{
    if (folder_.empty()) {
        char tmpl[] = "/tmp/ptb-cli-test-XXXXXX";
        folder_ = mkdtemp(tmpl);
    }
    return folder_ + "/" + name;
}

void CliTest::TearDown()
{
    if (!folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}
