// What the command line makes of how it is called: --wait on either side of
// the command, numbers too large for any, and help kept short per command.
#include "support/cli_run.h"

namespace {

TEST_F(CliTest, WaitGoesBeforeOrAfterTheCommandThatNeedsTheLinker)
{
    for (auto args : std::vector<std::vector<std::string>>{{"--wait", "read-byte", "0x24"},
                                                           {"read-byte", "0x24", "--wait=10"}}) {
        plug("official16");
        sim::noDevice();
        sim::plugAt(4, true);
        CliRun r = run(args);
        EXPECT_TRUE(r.status == 0 && !r.out.empty() && sim::clockSeconds() >= 4.0) << args[0] << r.err;
    }
    CliRun r = run({"--wait=3", "saves", "list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("--wait: 'saves list' needs no linker to wait for\n", 0), 0u) << r.err;
}

TEST_F(CliTest, NumbersTooLargeForAnyAreOutOfRangeAndTheFooterIsTheMainHelps)
{
    std::string rom = folder + "/game.ngp";
    writeFile(rom, pattern(64));
    const struct {
        std::vector<std::string> args;
        std::string said;
    } rows[] = {
        {{"read-byte", "99999999999"}, "'99999999999' is out of range: 0 to 0x3FFFFF; chip 1 from 0x200000"},
        {{"write-byte", "0x24", "0x100000000"}, "'0x100000000' is out of range: 0 to 255"},
        {{"flash", "--write-n", "4294967296", rom}, "'4294967296' is out of range: 1..32|64..1024"},
    };
    for (const auto& row : rows) {
        CliRun r = run(row.args);
        EXPECT_TRUE(r.status == 2 && r.err.find(row.said) != std::string::npos) << r.err;
    }
    const std::string footer = "The job's log goes to standard output";
    EXPECT_NE(run({"--help"}).out.find(footer), std::string::npos);
    for (auto args : std::vector<std::vector<std::string>>{{"flash", "--help"}, {"saves", "list", "--help"}})
        EXPECT_EQ(run(args).out.find(footer), std::string::npos) << args[0] << " repeats the footer";
    EXPECT_NE(run({"--version"}).out.find("\nLicense GPL-3.0-or-later: "), std::string::npos);
}

}  // namespace
