// The libusb stand-in: the calls, endpoints, lengths and error codes the
// program relies on, behaving as libusb's own would.
#include "link/clock.h"
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class UsbStandin : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(UsbStandin, OpensOnlyTheTetherbox)
{
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), LIBUSB_SUCCESS);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(libusb_open_device_with_vid_pid(ctx, 0x20A0, 0x4177), nullptr);
    EXPECT_EQ(libusb_open_device_with_vid_pid(ctx, 0x20A1, 0x4178), nullptr);
    libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx, VID, PID);
    ASSERT_NE(h, nullptr);
    libusb_close(h);
    libusb_exit(ctx);
}

TEST_F(UsbStandin, TheProgramsOpeningSequenceSucceeds)
{
    Link link;
    EXPECT_EQ(link.initResult, 0);
    ASSERT_NE(link.devh, nullptr);
    EXPECT_EQ(link.configResult, 0);
    EXPECT_EQ(link.claimResult, 0);
}

TEST_F(UsbStandin, OnlyConfigurationOneAndInterfaceZeroExist)
{
    Link link;
    EXPECT_EQ(libusb_claim_interface(link.devh, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_release_interface(link.devh, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_release_interface(link.devh, 0), 0);
    EXPECT_EQ(libusb_release_interface(link.devh, 0), LIBUSB_ERROR_NOT_FOUND) << "not claimed any more";
    EXPECT_EQ(libusb_set_configuration(link.devh, 2), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_set_configuration(link.devh, 1), 0);
    EXPECT_EQ(libusb_claim_interface(link.devh, 0), 0);
    EXPECT_EQ(libusb_set_configuration(link.devh, 1), LIBUSB_ERROR_BUSY) << "interface claimed";
}

TEST_F(UsbStandin, InitInstallsTheModelledClockForTheProgram)
{
    g_linkClock = steadyClockSeconds;
    Link link;
    EXPECT_EQ(g_linkClock, &sim::clockSeconds);
    sim::advanceClock(3.5);
    EXPECT_DOUBLE_EQ(linkSeconds(), sim::clockSeconds());
}

TEST_F(UsbStandin, A64ByteReceiveOfA64BytePacketMoves64)
{
    Link link;
    build_getversion_command(link.buf);
    int n = -1;
    ASSERT_EQ(link.send(link.buf, &n), 0);
    EXPECT_EQ(n, 64);
    ASSERT_EQ(link.receive(link.buf, &n), 0);
    EXPECT_EQ(n, 64);
}

TEST_F(UsbStandin, AReceiveWithNothingPendingTimesOutAtOnceAfterTwoModelledSeconds)
{
    Link link;
    const double before = sim::clockSeconds();
    int n = -1;
    EXPECT_EQ(link.receive(link.buf, &n), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(n, 0);
    EXPECT_DOUBLE_EQ(sim::clockSeconds() - before, 2.0);
    EXPECT_EQ(sim::counters().timeouts, 1u);
}

TEST_F(UsbStandin, WrongEndpointsFailWithoutReachingTheFirmware)
{
    Link link;
    build_getversion_command(link.buf);
    for (unsigned char ep : {0x01, 0x82, 0x00, 0x80, 0x03}) {
        int n = -1;
        EXPECT_EQ(libusb_bulk_transfer(link.devh, ep, link.buf, 64, &n, TIMEOUT_MS), LIBUSB_ERROR_IO) << int(ep);
        EXPECT_EQ(n, 0);
    }
    EXPECT_EQ(sim::counters().commands, 0u);
    EXPECT_EQ(sim::pendingPackets(), 0u);
}

TEST_F(UsbStandin, BadArgumentsAreRefused)
{
    Link link;
    int n = -1;
    EXPECT_EQ(libusb_bulk_transfer(link.devh, EP_OUT, link.buf, -1, &n, TIMEOUT_MS), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(libusb_bulk_transfer(link.devh, EP_OUT, nullptr, 64, &n, TIMEOUT_MS), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(libusb_bulk_transfer(nullptr, EP_OUT, link.buf, 64, &n, TIMEOUT_MS), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(sim::counters().transfers, 0u);
}

TEST_F(UsbStandin, AReceiveIntoASmallerBufferOverflows)
{
    Link link;
    build_getversion_command(link.buf);
    ASSERT_EQ(link.send(link.buf), 0);
    int n = -1;
    EXPECT_EQ(link.receive(link.buf, &n, 32), LIBUSB_ERROR_OVERFLOW);
    EXPECT_EQ(n, 32);
}

TEST_F(UsbStandin, ALongerReceiveGathersSeveralPacketsAndTimesOutWhenTheyRunOut)
{
    Link link;
    uint8_t data[192];
    build_read64xN_command(link.buf, 0, 0, 2);
    ASSERT_EQ(link.send(link.buf), 0);
    int n = -1;
    EXPECT_EQ(link.receive(data, &n, 128), 0);
    EXPECT_EQ(n, 128);
    ASSERT_EQ(link.send(link.buf), 0);
    EXPECT_EQ(link.receive(data, &n, 192), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(n, 128);
}

TEST_F(UsbStandin, ALongSendGoesAsSeveralPackets)
{
    Link link;
    uint8_t two[128] = {};
    build_getversion_command(two);
    build_getversion_command(two + 64);
    int n = -1;
    ASSERT_EQ(link.send(two, &n, 128), 0);
    EXPECT_EQ(n, 128);
    EXPECT_EQ(sim::pendingPackets(), 2u);
}

TEST_F(UsbStandin, AZeroLengthSendCarriesNoMessage)
{
    Link link;
    int n = -1;
    EXPECT_EQ(link.send(link.buf, &n, 0), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(sim::pendingPackets(), 0u);
}

TEST_F(UsbStandin, EveryTransferIsTraced)
{
    Link link;
    sim::Mark m = sim::mark();
    build_read_command(link.buf, 0x24, 0);
    ASSERT_TRUE(link.exchange(link.buf));
    link.receive(link.buf);
    auto t = sim::transfersSince(m);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].endpoint, EP_OUT);
    EXPECT_EQ(t[0].requested, 64);
    EXPECT_EQ(t[0].bytes.size(), 64u);
    EXPECT_EQ(t[0].bytes[0], CMD_READ);
    EXPECT_EQ(t[0].result, 0);
    EXPECT_EQ(t[1].endpoint, EP_IN);
    EXPECT_EQ(t[1].bytes[0], REPLY_READ);
    EXPECT_EQ(t[2].result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_TRUE(t[2].bytes.empty());
    EXPECT_LT(t[0].time, t[1].time);
    EXPECT_FALSE(sim::describe(t[0]).empty());
}

TEST_F(UsbStandin, AResetDropsUnreadPackets)
{
    Link link;
    build_read64xN_command(link.buf, 0, 0, 3);
    ASSERT_EQ(link.send(link.buf), 0);
    ASSERT_EQ(sim::pendingPackets(), 3u);
    EXPECT_EQ(libusb_reset_device(link.devh), 0);
    EXPECT_EQ(sim::pendingPackets(), 0u);
}

TEST_F(UsbStandin, TheEnvironmentIsIgnoredOnceATestConfiguredTheDevice)
{
    setenv("PTB_SIM_CART", "none", 1);
    setenv("PTB_SIM_FIRMWARE", "0.12", 1);
    {
        Link link;
        uint8_t major = 0, minor = 0;
        EXPECT_EQ(link.getVersionReplyCode(&major, &minor), 0);
        EXPECT_EQ(minor, 13);
        EXPECT_EQ(sim::cartName(), "official16");
    }
    unsetenv("PTB_SIM_CART");
    unsetenv("PTB_SIM_FIRMWARE");
}

}  // namespace
