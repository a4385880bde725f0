// Ctrl-C raised at a chosen breath of the job, and the bar drawn on a
// terminal of a given width by a clock that moves a set step per reading.
#include <csignal>

#include "support/cli_run.h"
#include "support/log_file_records.h"

namespace {

TEST_F(CliTest, CtrlCDuringABackupDeletesTheFileAndLetsTheLinkerGo)
{
    plug("official16");
    atBreath = [](int breath) {
        if (breath == 20)
            raise(SIGINT);
    };
    CliRun r = run({"backup", folder + "/cart.ngp"});
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.lastLine(), "Backup aborted. Deleting the backup file.");
    EXPECT_FALSE(std::filesystem::exists(folder + "/cart.ngp"));
    EXPECT_NE(r.err.find("Cancelling (Ctrl-C). Another signal a second or more from now quits at once, without "
                         "cleaning up.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(sim::ledSetting(), 2) << "the linker was not let go";
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "Ctrl-C is still caught after the run";
}

TEST_F(CliTest, CtrlCDuringStartUpRunsNoJob)
{
    plug("official16");
    sim::Mark m;
    atBreath = [&m](int) {  // the breath after the firmware line
        m = sim::mark();
        raise(SIGINT);
    };
    CliRun r = run({"info"});
    EXPECT_TRUE(r.status == 130 && r.out.empty()) << r.status << r.out;
    EXPECT_EQ(commandsSince(m).size(), 1u) << "more than the LED setting at shut-down";

    atBreath = [](int) {
        raise(SIGINT);
        g_fakeNow += 1.5;
        raise(SIGINT);
    };
    EXPECT_EXIT(run({"backup", folder + "/cart.ngp"}), ::testing::KilledBySignal(SIGINT), "")
        << "a second Ctrl-C did not quit at once";
}

// TERM and HUP cancel as Ctrl-C does, and what comes within a second of the
// first signal (`timeout` signals the process and its group) is the same
// request: the job cleans up and the status names the first signal. The
// cancelling line goes to the log file too.
TEST_F(CliTest, TermAndHupCancelAndASignalWithinASecondIsTheSameRequest)
{
    const struct { std::vector<int> signals; int status; const char* name; } cases[] = {
        {{SIGTERM}, 143, "SIGTERM"},
        {{SIGHUP, SIGTERM}, 129, "SIGHUP"},
        {{SIGINT, SIGINT, SIGINT}, 130, "Ctrl-C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchStateHome state;
        plug("official16");
        atBreath = [&c](int breath) {
            if (breath != 20)
                return;
            for (int sig : c.signals) {
                raise(sig);
                g_fakeNow += 0.3;
            }
        };
        CliRun r = run({"backup", folder + "/cart.ngp"});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.lastLine(), "Backup aborted. Deleting the backup file.");
        for (const auto& e : std::filesystem::directory_iterator(folder))
            EXPECT_EQ(e.path().filename(), "data") << "left behind";
        const std::string line = std::string("Cancelling (") + c.name + ").";
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
        bool filed = false;
        for (const LogRecord& rec : logFileRecords(state.log()))
            filed = filed || (rec.command == "backup" && rec.text.rfind(line, 0) == 0);
        EXPECT_TRUE(filed);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now {};
            sigaction(sig, nullptr, &now);
            EXPECT_EQ(now.sa_handler, SIG_DFL) << sig << " is still caught after the run";
        }
    }
}

TEST_F(CliTest, TheBarAtMostTenTimesASecondWithinTheTerminalAndClearedAtTheEnd)
{
    plug("official16");
    // 256 chunks, each reading the clock once, 10 ms a reading: 26 draws at most.
    CliRun r = run({"backup", folder + "/cart.ngp"}, 80, 0.01);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("Linker with v0.13 Firmware found\n\rBacking up a ROM  0%\033[K"), 39u) << r.err;
    EXPECT_NE(r.err.find(" KiB/s  0:0"), std::string::npos) << "no rate or time left";
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K") << "the bar was not cleared";
    size_t draws = 0;
    for (size_t at = r.err.find("\rBacking"); at != std::string::npos; at = r.err.find("\rBacking", at + 1))
        draws++;
    EXPECT_TRUE(draws >= 20 && draws <= 26) << draws;
    EXPECT_EQ(r.out.find_first_of("\r\033"), std::string::npos) << "the bar leaked into the log";

    CliRun narrow = run({"backup", folder + "/cart.ngp"}, 20, 1.0);
    for (size_t at = narrow.err.find('\r'); at != std::string::npos; at = narrow.err.find('\r', at + 1))
        EXPECT_LE(narrow.err.find('\033', at) - at - 1, 19u) << "wider than the terminal";
}

}  // namespace
