// Ctrl-C as Cancel, raised at a chosen breath of the job, and the bar drawn
// on a terminal of a given width with a clock that moves a set step per read.
#include <csignal>

#include "support/cli_run.h"

namespace {

void ctrlCAt(std::function<void(int)>& atBreath, int n)
{
    atBreath = [n](int breath) {
        if (breath == n)
            raise(SIGINT);
    };
}

TEST_F(CliTest, CtrlCDuringABackupDeletesTheFileAndLetsTheLinkerGo)
{
    plug("official16");
    std::string image = scratch("cart.ngp");
    ctrlCAt(atBreath, 20);
    CliRun r = run({"backup", image});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines().back(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_NE(r.err.find("Cancelling; Ctrl-C again quits at once.\n"), std::string::npos) << r.err;
    EXPECT_EQ(sim::ledSetting(), 2) << "the linker was not let go";

    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "Ctrl-C is still caught after the run";
}

TEST_F(CliTest, CtrlCWhileFlashingReportsTheFlashAborted)
{
    plug("flash4");
    std::string file = scratch("homebrew.ngp");
    writeFile(file, pattern(0x80000));
    // Breaths come from the erase wait first; a late one is in the writing.
    ctrlCAt(atBreath, 400);
    CliRun r = run({"flash", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines().back(), "Flashing aborted. Cart status unknown.");
}

TEST_F(CliTest, CtrlCBeforeTheJobStartsRunsNoJob)
{
    plug("official16");
    sim::Mark m;
    atBreath = [&m](int) {  // the breath after the firmware line
        m = sim::mark();
        raise(SIGINT);
    };
    CliRun r = run({"info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Cancelling"), std::string::npos) << r.err;
    EXPECT_EQ(commandsSince(m).size(), 1u) << "only the LED setting at shut-down";
}

TEST_F(CliTest, ASecondCtrlCQuitsAtOnce)
{
    plug("flash4");
    std::string image = scratch("cart.ngp");
    atBreath = [](int breath) {
        if (breath == 5) {
            raise(SIGINT);
            raise(SIGINT);
        }
    };
    EXPECT_EXIT(run({"backup", image}), ::testing::KilledBySignal(SIGINT), "");
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST_F(CliTest, TheBarOnATerminalAtMostTenTimesASecondAndClearedAtTheEnd)
{
    plug("official16");
    std::string image = scratch("cart.ngp");
    // Each reading of the clock moves it 10 ms.
    CliRun r = run({"backup", image}, 80, 0.01);
    ASSERT_EQ(r.status, 0);
    size_t first = r.err.find("\rBacking up a ROM  0%\033[K");
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(0, first), "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n");
    EXPECT_NE(r.err.find(" KiB/s  0:0"), std::string::npos) << "no rate or time left shown";
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K") << "the bar was not cleared";
    // 256 chunks, each reading the clock once: 2.56 s, so 26 draws at most.
    size_t draws = count(r.err, "\rBacking up a ROM");
    EXPECT_GE(draws, 20u);
    EXPECT_LE(draws, 26u);
    EXPECT_EQ(r.out.find_first_of("\r\033"), std::string::npos) << "the bar leaked into the log";
}

TEST_F(CliTest, TheBarFitsTheTerminalAndIsNeverDrawnWithoutOne)
{
    plug("official16");
    std::string image = scratch("cart.ngp");
    CliRun narrow = run({"backup", image}, 20, 1.0);
    for (size_t at = narrow.err.find('\r'); at != std::string::npos; at = narrow.err.find('\r', at + 1)) {
        size_t end = narrow.err.find('\033', at);
        EXPECT_LE(end - at - 1, 19u) << narrow.err.substr(at + 1, end - at - 1);
    }
    CliRun piped = run({"backup", image}, 0, 1.0);
    EXPECT_EQ(piped.err, "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n");
}

}  // namespace
