// --wait: a linker plugged in later is waited for, on the simulator's clock,
// with or without hotplug; the time running out is status 3, Ctrl-C 130.
#include <csignal>

#include "support/cli_run.h"

namespace {

const std::string NONE = "No USB Tetherbox device found!!\nGiving up..\n";
const std::string WAITING = "Waiting for the linker: plug it in.\n";
const std::string FOUND = "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n";

TEST_F(CliTest, WaitForALateLinkerOrGiveUp)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        double arrives;  // modelled seconds; negative: there from the start
        bool hotplug;
        int status;
        std::string err;
        double waited;  // modelled seconds when the wait ended
    } rows[] = {
        {"for ever, arriving at 5 s", {"read-byte", "--wait", "0x24"}, 5, true, 0, NONE + WAITING + FOUND, 5},
        {"no hotplug: looked for each second", {"read-byte", "--wait=10", "0x24"}, 2.5, false, 0,
         NONE + WAITING + FOUND, 3},
        {"up to 3 s, arriving at 5 s", {"read-byte", "--wait=3", "0x24"}, 5, true, 3, NONE + WAITING, 3},
        {"up to 2.5 s, no hotplug", {"info", "--wait=2.5"}, 5, false, 3, NONE + WAITING, 2.5},
        {"no --wait", {"read-byte", "0x24"}, 0.5, true, 3, NONE, 0},
        {"there already", {"read-byte", "--wait=3", "0x24"}, -1, true, 0, FOUND, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        plug("official16");
        sim::offerHotplug(row.hotplug);
        if (row.arrives >= 0) {
            sim::noDevice();
            sim::plugAt(row.arrives, true);
        }
        CliRun r = run(row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out.empty(), row.status != 0) << r.out;
        // The job's few transfers take well under a tenth of a second.
        EXPECT_GE(sim::clockSeconds(), row.waited);
        EXPECT_LT(sim::clockSeconds(), row.waited + 0.1);
    }

    EXPECT_EQ(run({"info", "--wait=soon"}).status, 2);
    EXPECT_EQ(run({"info", "--wait=-1"}).status, 2);
    EXPECT_EQ(run({"identify", "--wait", folder}).status, 2) << "identify needs no linker";
}

TEST_F(CliTest, CtrlCWhileWaitingIsStatus130)
{
    plug("official16");
    sim::noDevice();
    atBreath = [](int breath) {
        if (breath == 3)
            raise(SIGINT);
    };
    CliRun r = run({"info", "--wait"});
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.err, NONE + WAITING +
                         "Cancelling (Ctrl-C). Another signal a second or more from now quits at once, without "
                         "cleaning up.\n");
    EXPECT_TRUE(sim::transfersSince(0).empty());
}

}  // namespace
