// The libusb stand-in: the calls, endpoints, lengths and error codes the
// program relies on, behaving as libusb's own would.
#include "core/link/clock.h"
#include "sim_host.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

class UsbStandin : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_F(UsbStandin, OpensOnlyTheTetherboxWithConfigurationOneAndInterfaceZero)
{
    g_linkClock = steadyClockSeconds;
    Link link;
    EXPECT_EQ(g_linkClock, &sim::clockSeconds) << "init gives the program the modelled clock";
    EXPECT_EQ(link.initResult, 0);
    ASSERT_NE(link.devh, nullptr);
    EXPECT_EQ(link.configResult, 0);
    EXPECT_EQ(link.claimResult, 0);
    EXPECT_EQ(libusb_open_device_with_vid_pid(link.ctx, VID, PID + 1), nullptr);
    EXPECT_EQ(libusb_open_device_with_vid_pid(link.ctx, VID + 1, PID), nullptr);
    EXPECT_EQ(libusb_claim_interface(link.devh, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_release_interface(link.devh, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_release_interface(link.devh, 0), 0);
    EXPECT_EQ(libusb_release_interface(link.devh, 0), LIBUSB_ERROR_NOT_FOUND) << "not claimed any more";
    EXPECT_EQ(libusb_set_configuration(link.devh, 2), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_set_configuration(link.devh, 1), 0);
    EXPECT_EQ(libusb_claim_interface(link.devh, 0), 0);
    EXPECT_EQ(libusb_set_configuration(link.devh, 1), LIBUSB_ERROR_BUSY) << "interface claimed";
    build_read64xN_command(link.buf, 0, 0, 3);
    ASSERT_EQ(link.send(link.buf), 0);
    ASSERT_EQ(sim::pendingPackets(), 3u);
    EXPECT_EQ(libusb_reset_device(link.devh), 0);
    EXPECT_EQ(sim::pendingPackets(), 0u) << "a reset drops unread packets";
}

TEST_F(UsbStandin, TransfersMoveWhatLibusbWouldAndReachOnlyTheTwoEndpoints)
{
    const struct {
        const char* what;
        int queued;  // packets the firmware has waiting
        unsigned char endpoint;
        int length, result, moved, left;
    } rows[] = {
        {"a 64-byte send", 0, EP_OUT, 64, 0, 64, 1},
        {"a long send goes as several packets", 0, EP_OUT, 128, 0, 128, 2},
        {"a zero-length send carries no message", 0, EP_OUT, 0, 0, 0, 0},
        {"a 64-byte receive", 1, EP_IN, 64, 0, 64, 0},
        {"a smaller buffer overflows", 1, EP_IN, 32, LIBUSB_ERROR_OVERFLOW, 32, 0},
        {"a longer receive gathers packets", 2, EP_IN, 128, 0, 128, 0},
        {"and times out when they run out", 2, EP_IN, 192, LIBUSB_ERROR_TIMEOUT, 128, 0},
        {"nothing pending", 0, EP_IN, 64, LIBUSB_ERROR_TIMEOUT, 0, 0},
        {"endpoint 0x01", 1, 0x01, 64, LIBUSB_ERROR_IO, 0, 1},
        {"endpoint 0x82", 1, 0x82, 64, LIBUSB_ERROR_IO, 0, 1},
        {"endpoint 0x00", 1, 0x00, 64, LIBUSB_ERROR_IO, 0, 1},
        {"endpoint 0x80", 1, 0x80, 64, LIBUSB_ERROR_IO, 0, 1},
        {"endpoint 0x03", 1, 0x03, 64, LIBUSB_ERROR_IO, 0, 1},
    };
    uint8_t data[192];
    for (int k = 0; k < 3; ++k)
        build_getversion_command(data + 64 * k);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        sim::reset();
        Link link;
        build_read64xN_command(link.buf, 0, 0, uint8_t(row.queued));
        ASSERT_EQ(link.send(link.buf), 0);
        const uint64_t commands = sim::counters().commands;
        int n = -1;
        uint8_t copy[192];
        memcpy(copy, data, sizeof copy);
        EXPECT_EQ(link.transfer(row.endpoint, copy, row.length, &n), row.result);
        EXPECT_EQ(n, row.moved);
        EXPECT_EQ(sim::pendingPackets(), size_t(row.left));
        // Only what went to 0x02 reaches the firmware, one message a packet.
        EXPECT_EQ(sim::counters().commands - commands, row.endpoint == EP_OUT ? uint64_t(row.moved / 64) : 0u);
    }
    sim::reset();
    Link link;
    int n = -1;
    EXPECT_EQ(libusb_bulk_transfer(link.devh, EP_OUT, link.buf, -1, &n, 2000), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(libusb_bulk_transfer(link.devh, EP_OUT, nullptr, 64, &n, 2000), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(libusb_bulk_transfer(nullptr, EP_OUT, link.buf, 64, &n, 2000), LIBUSB_ERROR_INVALID_PARAM);
    EXPECT_EQ(sim::counters().transfers, 0u);
}

// Job tests read the trace everywhere; here, what they cannot see: a failed
// transfer traced with its result, and a trace cut to its newest entries.
TEST_F(UsbStandin, EveryTransferIsTracedAndTheTraceSaysWhenItDropped)
{
    sim::setTraceLimit(100);
    Link link;
    sim::Mark m = sim::mark();
    link.receive(link.buf);
    auto t = sim::transfersSince(m);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_TRUE(t[0].bytes.empty());
    std::vector<uint8_t> data(64 * 4);
    ASSERT_TRUE(link.read64xN(data.data(), 0, 0, 4));
    EXPECT_TRUE(sim::traceTruncatedSince(m));
    EXPECT_EQ(sim::busCyclesSince(m).size(), 100u);
    EXPECT_EQ(sim::counters().busReads, 256u);
    EXPECT_FALSE(sim::traceTruncatedSince(sim::mark()));
}

}  // namespace
