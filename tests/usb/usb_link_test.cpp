// The link layer through the real libusb and usbfs: opening, the firmware
// check, shutting down, how a time-out, a stall and a pulled cable reach the
// log, and a linker this user may not open.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/link/clock.h"
#include "device_control.h"
#include "gui/log.h"
#include "core/link/linker.h"
#include "support/job_fixture.h"
#include "gui/main_window.h"

using Lines = std::vector<std::string>;

namespace {

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window)
            buildMainWindow();
        clearLog();
    }
    void TearDown() override { closeLink(); }
};

// Every transfer a primitive makes is one whole 64-byte packet each way.
void expectExchange(const SeenTransfer& out, const SeenTransfer& in, uint8_t command, uint8_t reply)
{
    EXPECT_EQ(out.endpoint, 0x02);
    EXPECT_EQ(out.requested, 64);
    EXPECT_EQ(out.result, 0);
    ASSERT_EQ(out.bytes.size(), 64u);
    EXPECT_EQ(out.bytes[0], command);
    EXPECT_EQ(in.endpoint, 0x81);
    EXPECT_EQ(in.requested, 64);
    EXPECT_EQ(in.result, 0);
    ASSERT_EQ(in.bytes.size(), 64u);
    EXPECT_EQ(in.bytes[0], reply);
}


// Waits on libusb's descriptors as the window's event loop does, looking
// whenever they are readable, until the linker's state changes; five
// seconds without an event is a failure.
::testing::AssertionResult heardOf(LinkState wanted)
{
    Linker& l = linker();
    for (int round = 0; round < 20; round++) {
        std::vector<pollfd> fds;
        for (int fd : l.eventFds())
            fds.push_back({fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 5000) <= 0)
            return ::testing::AssertionFailure() << "no event from libusb";
        if (l.look())
            return l.state() == wanted ? ::testing::AssertionSuccess()
                                       : ::testing::AssertionFailure() << "state " << int(l.state());
    }
    return ::testing::AssertionFailure() << "events, but no change";
}

}  // namespace

// udev's events as umockdev sends them reach libusb's hotplug callbacks:
// a linker absent at start-up is opened when plugged in, and after a pull
// and a replug it is opened again on its new node.
TEST_F(UsbLink, ALinkerPluggedInLaterIsHeardOfAndOpened)
{
    deviceRequest("unplug");
    Linker& l = linker();
    EXPECT_EQ(l.open(windowReporter(), nullptr, true), LinkState::Waiting);
    l.watch();
    ASSERT_TRUE(l.hotplug());
    EXPECT_EQ(logLines(), (Lines{"No USB Tetherbox device found!!", "Waiting for the linker: plug it in."}));
    for (int replug = 0; replug < 2; replug++) {
        clearLog();
        deviceRequest("plug");
        ASSERT_TRUE(heardOf(LinkState::Ready));
        EXPECT_EQ(logLines(), (Lines{"Checking for the linker and the cart..\n", "Linker with v0.13 Firmware found"}));
        EXPECT_EQ(theLink().read_byte(0x24, 0).value_or(0), 'S') << "the ROM name's first letter";
        EXPECT_EQ(logLines().size(), 2u);
        deviceRequest("unplug");
        ASSERT_TRUE(heardOf(LinkState::Gone));
        EXPECT_EQ(logLines().back(), "The linker is gone. Plug it in again.");
        EXPECT_EQ(theLink().handle(), nullptr);
    }
}

TEST_F(UsbLink, OpensTheLinkerAndAcceptsFirmware013)
{
    uint64_t m = deviceMark();
    ASSERT_TRUE(openLink(windowReporter()));
    EXPECT_EQ(logLines(), (Lines{"Checking for the linker and the cart..\n", "Linker with v0.13 Firmware found"}));
    auto seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 2u);
    expectExchange(seen[0], seen[1], 0x00, 0x00);
    EXPECT_EQ(seen[1].bytes[1], 0);
    EXPECT_EQ(seen[1].bytes[2], 13);

    // Shutting down sends the LED setting 2 and nothing else.
    m = deviceMark();
    closeLink();
    seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 2u);
    expectExchange(seen[0], seen[1], 0x09, 0x11);
    EXPECT_EQ(seen[0].bytes[4], 2);
    EXPECT_EQ(deviceLed(), 2);
}

TEST_F(UsbLink, RefusesAnotherFirmwareButStillLetsTheLinkerGo)
{
    deviceRequest("firmware 0.12");
    ASSERT_FALSE(openLink(windowReporter()));
    EXPECT_EQ(logLines(), (Lines{"Checking for the linker and the cart..\n", "Linker with v0.12 Firmware found",
                                "Version mismatch!  Expected v0.13. Giving up.."}));
    closeLink();
    EXPECT_EQ(deviceLed(), 2);
}

TEST_F(UsbLink, NoLinkerOnTheBus)
{
    deviceRequest("unplug");
    uint64_t m = deviceMark();
    ASSERT_FALSE(openLink(windowReporter()));
    EXPECT_EQ(logLines(), (Lines{"No USB Tetherbox device found!!", "Giving up.."}));
    closeLink();
    EXPECT_EQ(logLines().size(), 2u);
    EXPECT_TRUE(transfersSince(m).empty());
}

// The one real time-out of the suite: libusb waits its 2000 ms, discards the
// URB and says so; the late reply is thrown away before the next request.
TEST_F(UsbLink, AReplyThatNeverComesTimesOutAfterTwoSeconds)
{
    ASSERT_TRUE(openLink(windowReporter()));
    clearLog();
    deviceRequest("fault timeout@2");
    uint64_t m = deviceMark();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(theLink().read_byte(0x24, 0).value_or(0), 0);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 1.95);
    EXPECT_LT(waited, 3.0);
    EXPECT_EQ(logLines(), (Lines{"", "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."}));
    auto seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].endpoint, 0x81);
    EXPECT_EQ(seen[1].result, -7);
    EXPECT_TRUE(seen[1].bytes.empty());

    // The next read must not take the reply meant for 0x24 as its own.
    m = deviceMark();
    uint8_t value = theLink().read_byte(0x25, 0).value_or(0);
    seen = transfersSince(m);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].endpoint, 0x81);
    ASSERT_EQ(seen[0].bytes.size(), 64u);
    EXPECT_EQ(seen[0].bytes[3], 0x24) << "the late reply, drained";
    EXPECT_EQ(seen[1].endpoint, 0x81);
    EXPECT_EQ(seen[1].result, -7) << "nothing more was owed";
    expectExchange(seen[2], seen[3], 0x01, 0x03);
    EXPECT_EQ(seen[2].bytes[3], 0x25);
    EXPECT_EQ(seen[3].bytes[3], 0x25);
    EXPECT_EQ(value, seen[3].bytes[4]);
    EXPECT_TRUE(logLines().size() == 3u) << "the drain itself logs nothing";
}

TEST_F(UsbLink, AStalledEndpointIsAPipeError)
{
    ASSERT_TRUE(openLink(windowReporter()));
    clearLog();
    deviceRequest("stall 2");
    EXPECT_EQ(theLink().read_byte(0x24, 0).value_or(0), 0);
    EXPECT_EQ(logLines(), (Lines{"", "Error: LIBUSB_ERROR_PIPE", "Pipe error."}));
}

TEST_F(UsbLink, APulledCableFailsEveryTransferAtOnce)
{
    ASSERT_TRUE(openLink(windowReporter()));
    clearLog();
    uint8_t buf[8 * 64];
    // The command and two data packets arrive; the cable goes during the third.
    deviceRequest("fault unplug@3");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(theLink().read_64xN_bytes(buf, 0, 0, 8));
    EXPECT_EQ(logLines(), kNoDeviceLines);
    // Said once: later transfers fail at once, counted but not worded again.
    clearLog();
    EXPECT_FALSE(theLink().write_byte(0x5555, 0xAA, 0));
    EXPECT_FALSE(theLink().read_byte(0, 0).has_value());
    EXPECT_TRUE(logLines().empty());
    closeLink();
    EXPECT_TRUE(logLines().empty()) << "no LED setting for a linker that is gone";
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(waited, 1.0);
}

// A linker this user may not open: its device node has no permissions for
// us, as before the udev rule is installed.
namespace {

const Lines NOT_OURS = {"The linker is plugged in, but this user may not open it.",
                        "Install the udev rule (see the README) and plug it in again."};
const Lines FOUND = {"Checking for the linker and the cart..\n", "Linker with v0.13 Firmware found"};

std::string joined(const Lines& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    return text;
}

// Root opens a node whatever its mode: for as long as this lives, the
// calling thread has no privilege to override a file's permissions.
class AsAUser {
public:
    AsAUser()
    {
        head_.version = _LINUX_CAPABILITY_VERSION_3;
        head_.pid = 0;
        syscall(SYS_capget, &head_, saved_);
        __user_cap_data_struct less[2];
        memcpy(less, saved_, sizeof less);
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &head_, less);
    }
    ~AsAUser() { syscall(SYS_capset, &head_, saved_); }

private:
    __user_cap_header_struct head_;
    __user_cap_data_struct saved_[2];
};

int runCliNow(std::vector<const char*> args, std::string* err, std::function<void()> afterBreath = nullptr)
{
    std::ostringstream out, errors;
    CliIo io{out, errors, 0, steadyClockSeconds, [&] {
                 *err = errors.str();
                 if (afterBreath)
                     afterBreath();
             }};
    args.insert(args.begin(), "pockettetherbox-cli");
    int status = runCli(int(args.size()), args.data(), io);
    *err = errors.str();
    return status;
}

}  // namespace

TEST_F(UsbLink, ALinkerThisUserMayNotOpenIsSaidSoAndWaitedForOnBothFaces)
{
    AsAUser user;

    // The window goes on looking: the replug is heard of and greeted.
    deviceRequest("fault noaccess");
    Linker& l = linker();
    EXPECT_EQ(l.open(windowReporter(), nullptr, true), LinkState::NotOurs);
    l.watch();
    EXPECT_EQ(logLines(), NOT_OURS);
    EXPECT_STREQ(l.failure().call, "libusb_open");
    clearLog();
    deviceRequest("unplug");
    ASSERT_TRUE(heardOf(LinkState::Waiting));
    deviceRequest("plug");
    ASSERT_TRUE(heardOf(LinkState::Ready));
    EXPECT_EQ(logLines(), FOUND);
    l.close();

    // The command line without --wait: said, and status 3 at once.
    deviceRequest("fault noaccess");
    std::string err;
    EXPECT_EQ(runCliNow({"info"}, &err), 3);
    EXPECT_EQ(err, joined(NOT_OURS));

    // With --wait, it waits for the replug, then runs the job.
    bool replugged = false;
    EXPECT_EQ(runCliNow({"read-byte", "--wait=20", "0x24"}, &err,
                        [&] {
                            if (replugged || err != joined(NOT_OURS))
                                return;
                            replugged = true;
                            deviceRequest("unplug");
                            deviceRequest("plug");
                        }),
              0);
    EXPECT_TRUE(replugged);
    EXPECT_EQ(err, joined(NOT_OURS) + "Checking for the linker and the cart..\nLinker with v0.13 Firmware found\n");
}
