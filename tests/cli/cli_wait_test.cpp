// --wait: a linker plugged in later is waited for, on the simulator's clock,
// with or without hotplug; the time running out is status 3, Ctrl-C 130.
#include <csignal>

#include "support/cli_run.h"

namespace {

const std::string NONE = "No USB Tetherbox device found!!\nGiving up..\n";
const std::string WAITING = "No USB Tetherbox device found!!\nWaiting for the linker: plug it in.\n";
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
        {"for ever, arriving at 5 s", {"read-byte", "--wait", "0x24"}, 5, true, 0, WAITING + FOUND, 5},
        {"no hotplug: looked for each second", {"read-byte", "--wait=10", "0x24"}, 2.5, false, 0,
         WAITING + FOUND, 3},
        {"up to 3 s, arriving at 5 s", {"read-byte", "--wait=3", "0x24"}, 5, true, 3,
         WAITING + "No linker could be used within 3 seconds.\n", 3},
        {"up to 2.5 s, no hotplug", {"info", "--wait=2.5"}, 5, false, 3,
         WAITING + "No linker could be used within 2.5 seconds.\n", 2.5},
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

// A linker just plugged in may fail its configuration or its claim while
// the kernel is still binding it: it is tried again, 0.2 s apart, five
// times in all, before its error is shown and it is refused.
TEST_F(CliTest, ALinkerJustPluggedInIsTriedAgainBeforeItIsRefused)
{
    const struct {
        const char* fault;
        int status;
        std::string err;
        double done;  // modelled seconds; it arrives at 1 s
    } rows[] = {
        {"config@2", 0, WAITING + FOUND, 1.4},
        {"claim@4:ACCESS", 0, WAITING + FOUND, 1.8},
        {"config@5:IO", 3, WAITING + "libusb_set_configuration error -1\n", 1.8},
        {"claim:NO_DEVICE", 3, WAITING + "libusb_claim_interface error -4\n", 1.8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        plug("official16");
        sim::noDevice();
        sim::plugAt(1, true);
        ASSERT_TRUE(sim::applyFaults(row.fault));
        CliRun r = run({"read-byte", "--wait=10", "0x24"});
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(r.err, row.err);
        EXPECT_GE(sim::clockSeconds(), row.done);
        EXPECT_LT(sim::clockSeconds(), row.done + 0.1);
    }
}

// A linker there but not ours to use is told apart from none, and waited
// for like one that is not there: greeted once plugged in again.
TEST_F(CliTest, ALinkerNotOursOrBusyIsSaidSoAndWaitedFor)
{
    const std::string NOT_OURS = "The linker is plugged in, but this user may not open it.\n"
                                 "Install the udev rule (see the README) and plug it in again.\n";
    const std::string BUSY = "Another program is using the linker.\n"
                             "Close it, then plug the linker in again.\n";
    const struct {
        const char* fault;
        std::vector<std::string> args;
        bool replugged;  // pulled at 2 s, back at 3 s
        int status;
        std::string err, doctorSays;  // doctor's access line, before what to do
        double done;
    } rows[] = {
        {"noaccess", {"info"}, false, 3, NOT_OURS, "", 0},
        {"noaccess", {"read-byte", "--wait=10", "0x24"}, true, 0, NOT_OURS + FOUND, "", 3},
        {"claim:BUSY", {"info", "--wait=3"}, false, 3, BUSY + "No linker could be used within 3 seconds.\n", "", 3},
        {"noaccess", {"doctor"}, false, 3, NOT_OURS, "Access: this user may not open it (LIBUSB_ERROR_ACCESS).", 0},
        {"claim:BUSY", {"doctor"}, false, 3, BUSY, "Access: in use by another program (LIBUSB_ERROR_BUSY).", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault + (" " + row.args[0]));
        plug("official16");
        ASSERT_TRUE(sim::applyFaults(row.fault));
        if (row.replugged) {
            sim::plugAt(2, false);
            sim::plugAt(3, true);
        }
        CliRun r = run(row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_EQ(r.err, row.err);
        if (!row.doctorSays.empty()) {
            EXPECT_EQ(r.lineFromEnd(1), row.doctorSays);
        }
        EXPECT_GE(sim::clockSeconds(), row.done);
        EXPECT_LT(sim::clockSeconds(), row.done + 0.1);
    }
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
    EXPECT_EQ(r.err, WAITING +
                         "Cancelling (Ctrl-C). Another signal a second or more from now quits at once, without "
                         "cleaning up.\n");
    EXPECT_TRUE(sim::transfersSince(0).empty());
}

}  // namespace
